// The recording's one frame clock. Every block gets its frame number here,
// and every output (each sink, the summary) gets the same one, so a frame
// that is missing, for one sensor or for all, is a gap at the same place
// everywhere. Silences are judged here too, once for all.
#pragma once

#include <cstdint>
#include <vector>

#include "base/channel_info.h"
#include "base/frame_sink.h"
#include "kessra_plugin.h"
#include "recording/stream_stats.h"

namespace bvhost {

class RecordingFrames {
 public:
  // Frames from `frameLimit` on are left out of every sink, which are fed in
  // the order given.
  RecordingFrames(const std::vector<ChannelInfo>& channels, std::vector<FrameSink*> sinks,
                  std::uint64_t frameLimit);

  // The channel's next block: its frame is the one after the channel's last,
  // past any frames lost since.
  void deliver(std::size_t channel, const SampleBlock& block);
  // `count` frames never reached bvhost, before the next ones delivered.
  void insertLost(std::uint64_t count, bool placeUncertain);
  // A marker, to every sink; see FrameSink::mark.
  void mark(const Annotation& marker);
  // The end of the recording: every open silence closes.
  void finish();

  // Frames so far, lost ones included: the most any channel reached.
  std::uint64_t frames() const { return frames_; }
  std::uint64_t frameLimit() const { return frameLimit_; }
  // Frames the sinks got, lost ones included: those up to the limit.
  std::uint64_t keptFrames() const { return frames_ < frameLimit_ ? frames_ : frameLimit_; }
  // Frames the device delivered past the limit, left out.
  std::uint64_t framesLeftOut() const { return leftOut_; }
  // Markers the sinks got.
  std::uint64_t markers() const { return markers_; }
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
  std::vector<FrameSink*> sinks_;
  std::uint64_t frameLimit_;
  std::vector<std::uint64_t> nextFrame_;  // per channel
  std::uint64_t frames_ = 0;
  std::uint64_t leftOut_ = 0;
  std::uint64_t markers_ = 0;
};

}  // namespace bvhost
