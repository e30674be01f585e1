// The recording's one frame clock. Every block gets its frame number here,
// and every output (the files, the live view, the summary) gets the same
// one, so a frame that is missing, for one sensor or for all, is a gap at
// the same place everywhere. Silences are judged here too, once for all.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "files/sample_writer.h"
#include "live/live_tap.h"
#include "recording/stream_stats.h"

namespace bvhost {

class RecordingFrames {
 public:
  // Frames from `frameLimit` on are left out of every output; `tap` may be
  // null.
  RecordingFrames(const std::vector<ChannelInfo>& channels,
                  std::vector<std::unique_ptr<SampleWriter>>& writers, std::uint64_t frameLimit,
                  LiveTap* tap);

  // The channel's next block: its frame is the one after the channel's last,
  // past any frames lost since.
  void deliver(std::size_t channel, const SampleBlock& block);
  // `count` frames never reached bvhost, before the next ones delivered.
  void insertLost(std::uint64_t count, bool placeUncertain);
  // The end of the recording: every open silence closes.
  void finish();

  // Frames so far, lost ones included: the most any channel reached.
  std::uint64_t frames() const { return frames_; }
  std::uint64_t frameLimit() const { return frameLimit_; }
  // Frames the device delivered past the limit, left out.
  std::uint64_t framesLeftOut() const { return leftOut_; }
  StreamStats& stats() { return stats_; }
  const StreamStats& stats() const { return stats_; }

 private:
  // Called for every block, so the common case, nothing new, costs a test.
  void passTimeline() {
    if (stats_.timelinePending()) {
      passTimelineNow();
    }
  }
  void passTimelineNow();

  StreamStats stats_;
  std::vector<std::unique_ptr<SampleWriter>>& writers_;
  std::uint64_t frameLimit_;
  LiveTap* tap_;
  std::vector<std::uint64_t> nextFrame_;  // per channel
  std::uint64_t frames_ = 0;
  std::uint64_t leftOut_ = 0;
};

}  // namespace bvhost
