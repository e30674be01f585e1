// Turns the blocks a plug-in delivers into EDF data records, as plain data.
// Time is the frame: a block of frame k, as the recording's frame clock
// numbers it, goes into data record k, whatever that channel or any other
// delivered before. So a sensor that drops out, or frames lost before they
// reached the host, shift nothing: what is missing stays a gap in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "base/annotation.h"

namespace bvhost {

struct SignalSlot {
  std::size_t sensor = 0;            // which sensor the signal belongs to
  std::size_t samplesPerRecord = 1;  // the channel's samples per frame, above 0
  double minimum = -1.0;             // physical range the file can hold
  double maximum = 1.0;
};

struct SignalCounts {
  std::uint64_t kept = 0;
  std::uint64_t filled = 0;   // fill values where the channel delivered nothing
  std::uint64_t beyond = 0;   // samples beyond a frame's slot, not kept
  std::uint64_t late = 0;     // samples of a frame already written, not kept
  std::uint64_t clipped = 0;  // outside the range (or not a number), kept at its edge
};

class RecordAssembler {
 public:
  // What a gap holds in the file; the annotation tells it from a real zero.
  static constexpr float kFillValue = 0.0f;
  // How far (in records, a second) a channel may fall behind the others
  // before its frames are written without it: a plug-in that skips a
  // channel's callbacks must not hold back every record without end.
  static constexpr std::size_t kMaxPendingRecords = 74;

  RecordAssembler(std::vector<SignalSlot> signals, std::size_t sensors);

  // The block of `signal` for frame `frame`; a signal's frames come in
  // order, and one it skips is a gap.
  void add(std::size_t signal, std::uint64_t frame, const float* values, std::uint64_t count);
  // Frames `first` on, `count` of them, never came: they are written as
  // gaps at once rather than waited for.
  void skip(std::uint64_t first, std::uint64_t count);
  // The end of the recording: the frames begun are written as they stand.
  void finish();

  // Records complete so far, each every signal's samples one after the
  // other in signal order, in physical units within each signal's range;
  // the caller takes them.
  std::size_t readyRecords() const { return readyRecords_; }
  const std::vector<float>& readyData() const { return ready_; }
  void clearReady();
  std::size_t recordSize() const { return recordSize_; }
  std::uint64_t recordsEmitted() const { return emitted_; }

  // Annotations made since the last call, in the order they arose.
  std::vector<Annotation> takeAnnotations();

  const SignalCounts& counts(std::size_t signal) const { return counts_[signal]; }

 private:
  struct Pending {
    // Filled slot by slot as blocks come, so a record costs no pass of its
    // own before it is written.
    std::vector<float> samples;
    std::vector<std::uint64_t> delivered;  // per signal, kUnset until its block came
    std::size_t missingSignals = 0;
  };
  // Consecutive frames of one sensor with samples beyond their slots.
  struct BeyondRun {
    std::uint64_t firstFrame = 0;
    std::uint64_t endFrame = 0;
    std::uint64_t samples = 0;
  };

  Pending& pendingFor(std::uint64_t frame);
  void emitFront();
  void emitGap();
  void noteSensors(const Pending& record, std::uint64_t frame);
  void noteBeyond(std::size_t sensor, std::uint64_t frame, std::uint64_t samples);
  void closeBeyond(std::size_t sensor);

  std::vector<SignalSlot> signals_;
  std::vector<std::size_t> offsets_;  // of each signal within a record
  std::size_t recordSize_ = 0;
  std::vector<std::uint64_t> nextFrame_;  // per signal
  std::vector<SignalCounts> counts_;
  std::deque<Pending> pending_;
  std::vector<Pending> spare_;  // emitted records' storage, reused
  std::uint64_t firstPendingFrame_ = 0;
  std::uint64_t emitted_ = 0;
  std::vector<float> ready_;
  std::size_t readyRecords_ = 0;
  std::vector<BeyondRun> beyond_;  // per sensor; samples 0 when none is open
  std::vector<Annotation> annotations_;
  // Per sensor while a record is judged; kept to spare an allocation a frame.
  std::vector<std::uint64_t> beyondSamples_;
};

}  // namespace bvhost
