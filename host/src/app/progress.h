// The live status line of a recording, drawn on stderr only when stderr is a
// terminal, so logs and pipes get no carriage-return clutter.
#pragma once

#include <chrono>
#include <cstdint>

namespace bvhost {

class ProgressLine {
 public:
  ProgressLine();
  // Whether anything is drawn; callers can then skip gathering the figures.
  bool enabled() const { return enabled_; }
  void update(double elapsedSeconds, double targetSeconds, std::uint64_t frames,
              std::uint64_t samples);
  // Clears the line before the summary is printed.
  void finish();

 private:
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace bvhost
