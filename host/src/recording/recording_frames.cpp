#include "recording/recording_frames.h"

#include <algorithm>
#include <utility>

namespace bvhost {

RecordingFrames::RecordingFrames(const std::vector<ChannelInfo>& channels,
                                 std::vector<FrameSink*> sinks, std::uint64_t frameLimit)
    : stats_(channels),
      sinks_(std::move(sinks)),
      frameLimit_(frameLimit),
      nextFrame_(channels.size(), 0) {
  for (const FrameSink* sink : sinks_) {
    const auto room = sink->noteRoomPerFrame();
    if (room && (!noteRoomPerFrame_ || *room < *noteRoomPerFrame_)) {
      noteRoomPerFrame_ = room;
    }
  }
}

std::optional<std::int64_t> RecordingFrames::noteRoom() const {
  if (!noteRoomPerFrame_) {
    return std::nullopt;
  }
  // The frames ahead are room only if the recording is to have them; one
  // stopped early may still hold less than its markers took.
  const std::uint64_t frames = std::min(keptFrames() + kNoteRoomAheadFrames, frameLimit_);
  std::size_t ownNoteBytes = 0;
  for (const FrameSink* sink : sinks_) {
    ownNoteBytes = std::max(ownNoteBytes, sink->ownNoteBytes());
  }
  return static_cast<std::int64_t>(frames * *noteRoomPerFrame_) -
         static_cast<std::int64_t>(timelineNoteBytes_ + ownNoteBytes);
}

void RecordingFrames::chargeNote(const StreamStats::TimelineNote& note) {
  const Annotation& annotation = note.annotation;
  // A note takes its room once: when it begins, so that a silence still
  // open at the end, closed after the markers' last chance, has it already.
  const auto open = std::find_if(openNotes_.begin(), openNotes_.end(), [&](const Annotation& a) {
    return a.onsetSeconds == annotation.onsetSeconds && a.text == annotation.text;
  });
  if (note.begins) {
    openNotes_.push_back(annotation);
  } else if (open != openNotes_.end()) {
    openNotes_.erase(open);
    return;
  }
  timelineNoteBytes_ += noteBytes(annotation.text.size());
}

void RecordingFrames::deliver(std::size_t channel, const SampleBlock& block) {
  const std::uint64_t frame = nextFrame_[channel]++;
  if (frame >= frames_) {
    frames_ = frame + 1;
    leftOut_ += frame >= frameLimit_ ? 1 : 0;
  }
  // What the device made past the time asked for (its start alone takes a
  // second) is left out, so the files hold the time the user asked for, not
  // what the plug-in happened to have ready at the stop.
  if (frame >= frameLimit_) {
    return;
  }
  stats_.add(channel, frame, block);
  // A block of no samples still reaches the sinks: it is the channel's
  // part of its frame, and what it lacks is a gap in place.
  if (block.count == 0 || block.values != nullptr) {
    for (FrameSink* sink : sinks_) {
      sink->write(channel, frame, block.firstIndex, block.values, block.count);
    }
  }
  passTimeline();
}

void RecordingFrames::insertLost(std::uint64_t count, bool placeUncertain) {
  const std::uint64_t first = frames_;
  frames_ += count;
  std::fill(nextFrame_.begin(), nextFrame_.end(), frames_);
  if (first >= frameLimit_) {
    return;
  }
  const std::uint64_t kept = std::min(count, frameLimit_ - first);
  stats_.noteLost({first, kept, placeUncertain});
  for (FrameSink* sink : sinks_) {
    sink->skipFrames(first, kept);
  }
  passTimeline();
}

void RecordingFrames::mark(const Annotation& marker) {
  // Whatever the clock has to say first, such as frames lost before the
  // marker, goes first.
  passTimeline();
  ++markers_;
  for (FrameSink* sink : sinks_) {
    sink->mark(marker);
  }
}

void RecordingFrames::finish() {
  stats_.finish();
  passTimeline();
}

void RecordingFrames::passTimelineNow() {
  for (const auto& note : stats_.takeTimeline()) {
    chargeNote(note);
    for (FrameSink* sink : sinks_) {
      sink->annotate(note.annotation, note.begins);
    }
  }
}

}  // namespace bvhost
