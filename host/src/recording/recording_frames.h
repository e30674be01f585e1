// The recording's one frame clock. Every block gets its frame number here,
// and every output (each sink, the summary) gets the same one, so a frame
// that is missing, for one sensor or for all, is a gap at the same place
// everywhere. Silences are judged here too, once for all.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/channel_info.h"
#include "base/frame_sink.h"
#include "kessra_plugin.h"
#include "recording/stream_stats.h"

namespace bvhost {

class RecordingFrames {
 public:
  // Markers may take the room of this many frames before they come, so that
  // those sent as the device starts, a second before its first frame, fit.
  static constexpr std::uint64_t kNoteRoomAheadFrames = 74;

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
  // The bytes of notes, as noteBytes counts them, that every sink is sure
  // to keep for the frames so far and kNoteRoomAheadFrames more (up to the
  // frame limit), less what the time line's notes and the sinks' own took:
  // the room markers may have taken by now in all. Nothing when no sink
  // limits its notes.
  std::optional<std::int64_t> noteRoom() const;
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
  void chargeNote(const StreamStats::TimelineNote& note);

  StreamStats stats_;
  std::vector<FrameSink*> sinks_;
  std::uint64_t frameLimit_;
  std::vector<std::uint64_t> nextFrame_;  // per channel
  std::uint64_t frames_ = 0;
  std::uint64_t leftOut_ = 0;
  std::uint64_t markers_ = 0;
  std::optional<std::size_t> noteRoomPerFrame_;  // the least of the sinks'
  std::uint64_t timelineNoteBytes_ = 0;
  std::vector<Annotation> openNotes_;  // begun and not yet ended
};

}  // namespace bvhost
