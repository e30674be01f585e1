// Frames the device made that never reached the host. A device delivers a
// frame every period, so once every waiting frame has been read, the frames
// counted so far must match the time since the stream began, give or take
// the link's jitter and the clocks' drift. A shortfall beyond that means
// frames were lost upstream: a radio link that went quiet, or a backlog that
// overflowed while the host was held up. Plain data in, plain data out.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace bvhost {

class FrameLossDetector {
 public:
  // How far behind the clock the frames may fall before the shortfall is
  // taken for lost frames. A device that hands over a few frames at once,
  // or a host that read a moment before a frame came, stays within it.
  static constexpr double kToleranceFrames = 2.5;
  // The expected lag is the least seen over this much stream time, so it
  // follows a device clock some ppm off the host's (100 ppm is a frame in
  // 135 s) without taking a sudden shortfall for drift.
  static constexpr double kBaselineSeconds = 10.0;

  // A read has just found nothing waiting, `elapsedSeconds` after the stream
  // began, with `frames` counted so far (lost ones included). Returns how
  // many frames are missing, 0 when none. The first call only learns where
  // the device stands: a device that starts a little late loses nothing.
  // `toleranceFrames` may be wider where the moment is arbitrary, as at the
  // end of a run, when a device that sends several frames at once may be
  // in the middle of a batch.
  std::uint64_t check(double elapsedSeconds, std::uint64_t frames,
                      double toleranceFrames = kToleranceFrames);

  // Whether `frames` counted `elapsedSeconds` into the stream are on time,
  // so that none can be missing before the next ones. Before the first check
  // they are: a loss then could not be told from a late start anyway.
  bool onTime(double elapsedSeconds, std::uint64_t frames) const;

  // The lag, in frames, that counts as on time; none before the first check.
  std::optional<double> baseline() const;

 private:
  struct Lag {
    double at;      // seconds into the stream
    double frames;  // behind the clock, after any loss was counted
  };
  // Increasing lags, oldest first: the front is the least within the window.
  std::deque<Lag> window_;
};

}  // namespace bvhost
