#include "app/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace bvhost {
namespace {

// Control sequences every terminal of the last decades knows (VT100 and
// VT102): clear to the end of the line, save and restore the cursor, up and
// down a row, and delete the cursor's row, pulling the rows below it up.
constexpr const char* kClearLine = "\r\033[K";
constexpr const char* kSaveCursor = "\0337";
constexpr const char* kRestoreCursor = "\0338";
constexpr const char* kUp = "\033[1A";
constexpr const char* kUpTwo = "\033[2A";
constexpr const char* kDown = "\033[1B";
constexpr const char* kDeleteRow = "\033[M";

void put(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

ProgressLine::ProgressLine() : enabled_(isatty(STDERR_FILENO) == 1) {}

void ProgressLine::allowTyping() {
  const std::lock_guard lock(mutex_);
  typing_ = true;
}

// Rows are counted on the drawing above the typing, so the line must never
// wrap onto a second one.
std::string ProgressLine::fitted(std::string text) const {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
      text.size() >= size.ws_col) {
    text.resize(size.ws_col - 1u);
  }
  return text;
}

void ProgressLine::update(double elapsedSeconds, double targetSeconds, std::uint64_t frames,
                          std::uint64_t samples) {
  if (!enabled_) {
    return;
  }
  const std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (finished_ || (drawn_ && now - lastDrawn_ < std::chrono::milliseconds(200))) {
    return;
  }
  lastDrawn_ = now;
  const double rate = elapsedSeconds > 0.0 ? static_cast<double>(samples) / elapsedSeconds : 0.0;
  char target[32] = "";
  if (targetSeconds > 0.0) {
    std::snprintf(target, sizeof target, " / %.1f", targetSeconds);
  }
  char text[160];
  if (typing_) {
    std::snprintf(text, sizeof text,
                  "recording %.1f%s s, %llu frames; type a marker and Enter, Ctrl-C stops",
                  elapsedSeconds, target, static_cast<unsigned long long>(frames));
    draw(fitted(text));
  } else {
    std::snprintf(text, sizeof text,
                  "recording  %7.1f%s s  %8llu frames  %9.0f samples/s  Ctrl-C stops",
                  elapsedSeconds, target, static_cast<unsigned long long>(frames), rate);
    draw(text);
  }
}

void ProgressLine::draw(const std::string& text) {
  last_ = text;
  if (!typing_) {
    put(kClearLine + text);
  } else if (!drawn_) {
    // The cursor goes to a row of its own, for the typing.
    put(kClearLine + text + "\n");
  } else {
    put(std::string(kSaveCursor) + kUp + kClearLine + text + kRestoreCursor);
  }
  drawn_ = true;
}

void ProgressLine::lineEntered(std::string_view reply) {
  if (!enabled_) {
    print(reply);
    return;
  }
  std::unique_lock lock(mutex_);
  if (!typing_ || !drawn_ || finished_) {
    lock.unlock();
    print(reply);
    return;
  }
  // The cursor is at the start of the row after the entered line, two
  // below the status line: deleting that pulls the entered line up into its
  // place, and the status line is drawn anew below it and any reply.
  std::string text = std::string(kUpTwo) + kDeleteRow + kDown + kClearLine;
  if (!reply.empty()) {
    text += std::string(reply) + "\n" + kClearLine;
  }
  put(text + last_ + "\n");
}

void ProgressLine::print(std::string_view line) {
  if (line.empty()) {
    return;
  }
  const std::lock_guard lock(mutex_);
  if (!enabled_ || !drawn_ || finished_) {
    put(std::string(line) + "\n");
  } else if (!typing_) {
    put(kClearLine + std::string(line) + "\n" + last_);
  } else {
    // Whatever is being typed is lost from the screen, though not from the
    // terminal's line; only stray output gets here while typing.
    put(std::string(kUp) + kClearLine + std::string(line) + "\n" + kClearLine + last_ + "\n");
  }
}

void ProgressLine::finish() {
  const std::lock_guard lock(mutex_);
  if (enabled_ && drawn_ && !finished_) {
    put(typing_ ? std::string(kClearLine) + kUp + kClearLine : std::string(kClearLine));
  }
  finished_ = true;
}

}  // namespace bvhost
