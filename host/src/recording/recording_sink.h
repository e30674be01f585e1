// Where a recording's sample callbacks go. While frames come on time they
// are passed on as they come. A read that begins behind the clock (after a
// link outage, or a hold-up) may bring frames that came after lost ones, so
// its blocks are held until a read finds nothing waiting: only then does
// the host's clock say how many went missing, and the missing ones belong
// before the frames that came after them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/frame_period.h"
#include "plugin/channel_layout.h"
#include "plugin/function_table.h"
#include "plugin/sample_dispatch.h"
#include "recording/frame_loss.h"
#include "recording/recording_frames.h"

namespace bvhost {

class RecordingSink : public SampleHandler {
 public:
  // Held frames beyond this (a host that reads a long backlog) are passed
  // on early, so memory stays bounded; a loss found later is then placed
  // after them and marked as uncertain in place.
  static constexpr std::uint64_t kMaxHeldFrames = 2222;  // 30 s
  // A pause between reads longer than this means the host was held up, so
  // frames found missing afterwards may have gone anywhere within it.
  static constexpr double kLongestSteadyPauseSeconds = 3 * kFramePeriodSeconds;
  // A backlog may come in pieces, faster than real time, with reads that
  // find nothing in between: a shortfall is judged only once it has stopped
  // shrinking by more than half a frame for this long.
  static constexpr double kSettleSeconds = 2 * kFramePeriodSeconds;
  // At the end of a run the last read is at an arbitrary moment, perhaps in
  // the middle of a device's batch of frames: only a wider shortfall counts.
  static constexpr double kTrailingToleranceFrames = 8.0;

  RecordingSink(const std::vector<ChannelInfo>& channels, RecordingFrames& frames);

  void onBlock(const char* component, const char* channel, const SampleBlock& block) override;

  // One bv_read_samples, begun `elapsedSeconds` into the stream; returns the
  // number of callbacks it made. A refused read is thrown.
  std::uint64_t read(const EntryPoints& api, double elapsedSeconds);
  // A read found nothing waiting, `elapsedSeconds` into the stream: frames
  // the clock says are missing are put in place, and what was held is passed
  // on.
  void caughtUp(double elapsedSeconds);
  // The drain after the stop found nothing more. With `judgeLoss`, frames
  // due by the last read of the stream that found nothing, and never come,
  // were lost (a station that went quiet); without (a read failed, so the
  // drain never ended), what was held is passed on as it stands.
  void finish(bool judgeLoss);

  // How far the device's frames run behind the host's clock when on time,
  // as seen so far; a stream waits this much longer for its last frame.
  double expectedLagSeconds() const;
  // How many times the lag has been seen: once each time frames came and a
  // read then found nothing more. The first catches up with the device's
  // start at an arbitrary moment and may see it up to a frame late; each
  // later one, taken as a frame arrives, brings the lag down to the truth.
  std::uint64_t lagChecks() const { return lagChecks_; }

  // Frames read so far, held ones and lost ones included.
  std::uint64_t frames() const { return frames_.frames() + heldFrames(); }

 private:
  struct HeldBlock {
    std::size_t channel;
    std::uint64_t firstIndex;
    std::uint64_t count;
    std::size_t valuesAt;  // in heldValues_
    bool hasValues;
  };
  std::uint64_t heldFrames() const { return router_.frames() - passedFrames_; }
  bool settled(double elapsedSeconds);
  void judge(double elapsedSeconds, double toleranceFrames);
  void passHeld();

  ChannelRouter router_;
  RecordingFrames& frames_;
  FrameLossDetector loss_;
  std::vector<HeldBlock> held_;
  std::vector<float> heldValues_;
  std::uint64_t passedFrames_ = 0;  // router frames passed on
  std::uint64_t blocks_ = 0;
  std::uint64_t judgedFrames_ = 0;  // frames() when last judged
  std::uint64_t lagChecks_ = 0;
  std::optional<double> lastCaughtUpSeconds_;
  // While held frames settle: the least lag since, and when it was seen.
  std::optional<double> settlingLag_;
  double settlingSince_ = 0.0;
  double lastReadSeconds_ = -1.0;
  bool heldUp_ = false;   // since the last read that found nothing
  bool passing_ = false;  // this read's frames are on time: passed on at once
};

}  // namespace bvhost
