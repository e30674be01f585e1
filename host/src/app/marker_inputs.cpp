#include "app/marker_inputs.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

namespace bvhost {
namespace {

// What a typed or piped marker's sender sees: nothing for a plain "ok", as
// the text on the screen (or in the pipe) says enough.
std::string replyNote(const MarkerReply& reply) {
  if (!reply.accepted) {
    return "bvhost: marker " + reply.line;
  }
  if (reply.line.size() > 3 && reply.line.starts_with("ok ")) {
    return "bvhost: marker taken, " + reply.line.substr(3);
  }
  return "";
}

std::string count(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string markerFallbackFolder() { return "/tmp/bvhost-" + std::to_string(::getuid()); }

MarkerInputs::MarkerInputs(const MarkerInputOptions& options, ProgressLine& progress)
    : progress_(progress) {
  MarkerSocketOptions socket;
  socket.runName = options.runName;
  socket.fallbackFolder = markerFallbackFolder();
  try {
    socket_ = std::make_unique<MarkerSocketServer>(inbox_, socket);
    std::printf("Markers: bvhost mark TEXT [--to %s]\n", socket_->name().c_str());
    std::fflush(stdout);
  } catch (const MarkerSocketError& error) {
    std::fprintf(stderr, "bvhost: no marker socket, so bvhost mark cannot reach this run: %s\n",
                 error.what());
  } catch (const std::system_error& error) {
    std::fprintf(stderr, "bvhost: no marker socket, so bvhost mark cannot reach this run: %s\n",
                 error.what());
  }
  terminal_ = ::isatty(STDIN_FILENO) == 1;
  if (!terminal_ && !options.fromStdin) {
    return;
  }
  if (terminal_) {
    progress_.allowTyping();
  }
  try {
    reader_ = std::make_unique<MarkerLineReader>(
        STDIN_FILENO, inbox_, [this](const MarkerReply& reply) { onReply(reply); });
  } catch (const std::system_error& error) {
    std::fprintf(stderr, "bvhost: markers cannot be read from stdin: %s\n", error.what());
  }
}

MarkerInputs::~MarkerInputs() { stop(); }

void MarkerInputs::onReply(const MarkerReply& reply) {
  if (terminal_) {
    progress_.lineEntered(replyNote(reply));
  } else {
    progress_.print(replyNote(reply));
  }
}

std::string MarkerInputs::socketName() const { return socket_ ? socket_->name() : ""; }

void MarkerInputs::stop() {
  if (stopped_) {
    return;
  }
  stopped_ = true;
  if (reader_) {
    reader_->stop();
  }
  if (socket_) {
    socket_->stop();
  }
  // Only the terminal's foreground may discard its input; anyone else would
  // be stopped for trying.
  if (reader_ && terminal_ && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) {
    ::tcflush(STDIN_FILENO, TCIFLUSH);
  }
}

std::string MarkerInputs::summary(bool writing) const {
  const MarkerCounts counts = inbox_.counts();
  const std::uint64_t refused = counts.refusedText + counts.refusedFull + counts.refusedNoRoom +
                                counts.refusedClosed + counts.refusedEarly;
  if (counts.accepted + refused == 0) {
    return "";
  }
  std::string text =
      "Markers: " + std::to_string(counts.accepted) + (writing ? " recorded" : " taken");
  if (refused > 0) {
    std::string reasons;
    const auto add = [&reasons](std::uint64_t n, const std::string& why) {
      if (n > 0) {
        reasons += (reasons.empty() ? "" : ", ") + std::to_string(n) + " " + why;
      }
    };
    add(counts.refusedEarly, "before the stream started");
    add(counts.refusedText, "not a marker (not UTF-8, empty or too long)");
    add(counts.refusedFull, "while too many were waiting");
    add(counts.refusedNoRoom, "for which the file had no room");
    add(counts.refusedClosed, "after the stop");
    text += ", " + std::to_string(refused) + " refused (" + reasons + ")";
  }
  if (socket_) {
    const MarkerSocketCounts connections = socket_->counts();
    if (connections.turnedAway > 0) {
      text += "; " + count(connections.turnedAway, "connection", "connections") +
              " turned away, too many at once";
    }
    if (connections.closedIdle > 0) {
      text += "; " + count(connections.closedIdle, "connection", "connections") +
              " closed for sending nothing";
    }
  }
  return text + "\n";
}

}  // namespace bvhost
