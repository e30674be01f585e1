// Where a recording's frames go: a file, the live view, or a front end's own
// buffer. Blocks arrive per channel in the order the plug-in delivered them,
// each with the frame of the stream it belongs to, as the recording's one
// frame clock numbers it, so every sink sees a missing frame at the same
// place. Every call runs on the recording thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/annotation.h"

namespace bvhost {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // The channel's block of frame `frame`; firstIndex is the plug-in's count
  // of the channel's samples before it. A channel's frames come in order.
  // `values` is null only when `count` is 0.
  virtual void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
                     const float* values, std::uint64_t count) = 0;
  // Frames `first` on, `count` of them, never reached bvhost: every
  // channel's part of them is a gap, and no block for them follows.
  virtual void skipFrames(std::uint64_t first, std::uint64_t count) = 0;
  // A note for the recording's time line: a silence or frames lost. One
  // that `begins` has no known end yet; the same onset and text come again
  // with the duration once it ends.
  virtual void annotate(const Annotation& annotation, bool begins) = 0;
  // A marker someone gave the recording ("stimulus on", "trial 12"): an
  // instant (no duration) at the moment it was received. It comes once the
  // frames before it have. A sink keeps it as any other note unless it
  // shows markers apart.
  virtual void mark(const Annotation& marker) { annotate(marker, false); }
  // About once a second while streaming: a sink that keeps what it got on a
  // disk puts it there, so a run killed now keeps it. One that keeps
  // nothing there has nothing to do.
  virtual void sync() {}
  // The bytes of notes (as noteBytes counts them) the sink is sure to keep
  // for each frame it gets, whatever their onsets; nothing when it keeps
  // any number. A file with a fixed room for notes per frame says how much,
  // so that markers from outside can be refused before they overflow it.
  virtual std::optional<std::size_t> noteRoomPerFrame() const { return std::nullopt; }
  // The bytes of the notes the sink made of its own so far (a channel it
  // could not keep, samples it left out), which take from that room too.
  virtual std::size_t ownNoteBytes() const { return 0; }
};

}  // namespace bvhost
