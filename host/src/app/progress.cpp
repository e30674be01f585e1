#include "app/progress.h"

#include <unistd.h>

#include <cstdio>

namespace bvhost {

ProgressLine::ProgressLine() : enabled_(isatty(STDERR_FILENO) == 1) {}

void ProgressLine::update(double elapsedSeconds, double targetSeconds, std::uint64_t frames,
                          std::uint64_t samples) {
  if (!enabled_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDrawn_ < std::chrono::milliseconds(200)) {
    return;
  }
  lastDrawn_ = now;
  drawn_ = true;
  const double rate = elapsedSeconds > 0.0 ? static_cast<double>(samples) / elapsedSeconds : 0.0;
  char target[32] = "";
  if (targetSeconds > 0.0) {
    std::snprintf(target, sizeof target, " / %.1f", targetSeconds);
  }
  std::fprintf(stderr, "\r\033[Krecording  %7.1f%s s  %8llu frames  %9.0f samples/s  Ctrl-C stops",
               elapsedSeconds, target, static_cast<unsigned long long>(frames), rate);
  std::fflush(stderr);
}

void ProgressLine::finish() {
  if (enabled_ && drawn_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}

}  // namespace bvhost
