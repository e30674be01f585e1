#include "markers/line_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace bvhost {
namespace {

// How often a reader in the background looks whether it is in front again.
constexpr int kBackgroundPollMs = 250;

// A terminal may be read only by its foreground process group; any other
// reader is stopped by SIGTTIN. A terminal that is not ours to control
// stops no one.
bool mayRead(int fd, bool terminal) {
  if (!terminal) {
    return true;
  }
  const pid_t foreground = ::tcgetpgrp(fd);
  return foreground < 0 || foreground == ::getpgrp();
}

}  // namespace

MarkerLineReader::MarkerLineReader(int fd, MarkerInbox& inbox, ReplyHandler onReply,
                                   std::size_t maxLineBytes)
    : fd_(fd), inbox_(inbox), onReply_(std::move(onReply)), lines_(maxLineBytes) {
  thread_ = threadWithoutStopSignals([this] { run(); });
}

MarkerLineReader::~MarkerLineReader() { stop(); }

void MarkerLineReader::stop() {
  wake_.wake();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void MarkerLineReader::offer(std::string_view line, MarkerClock::time_point received) {
  const MarkerReply reply = inbox_.offer(line, received);
  if (onReply_) {
    onReply_(reply);
  }
}

void MarkerLineReader::run() {
  const bool terminal = ::isatty(fd_) == 1;
  char buffer[4096];
  for (;;) {
    const bool readable = mayRead(fd_, terminal);
    pollfd polled[2] = {{wake_.readEnd(), POLLIN, 0}, {fd_, POLLIN, 0}};
    const int ready = ::poll(polled, readable ? 2 : 1, readable ? -1 : kBackgroundPollMs);
    if (ready < 0 && errno != EINTR) {
      break;
    }
    if (polled[0].revents != 0) {
      return;
    }
    if (ready <= 0 || !readable || polled[1].revents == 0) {
      continue;
    }
    if ((polled[1].revents & POLLNVAL) != 0) {
      break;
    }
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    // Taken before the lines are looked at: the time a line arrived, not
    // the time its handling got to it.
    const MarkerClock::time_point received = MarkerClock::now();
    if (got > 0) {
      lines_.feed(
          std::string_view(buffer, static_cast<std::size_t>(got)),
          [&](std::string_view line) { offer(line, received); },
          [&] {
            const MarkerReply reply = inbox_.refuseLongLine(lines_.limit());
            if (onReply_) {
              onReply_(reply);
            }
          });
      continue;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (got == 0) {
      lines_.finish([&](std::string_view line) { offer(line, received); });
    }
    break;
  }
  ended_.store(true, std::memory_order_release);
}

}  // namespace bvhost
