#include "files/record_assembler.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/channel_info.h"
#include "base/frame_period.h"

namespace bvhost {
namespace {

constexpr std::uint64_t kUnset = std::numeric_limits<std::uint64_t>::max();

}  // namespace

RecordAssembler::RecordAssembler(std::vector<SignalSlot> signals, std::size_t sensors)
    : signals_(std::move(signals)),
      nextFrame_(signals_.size(), 0),
      counts_(signals_.size()),
      beyond_(sensors) {
  for (const auto& signal : signals_) {
    offsets_.push_back(recordSize_);
    recordSize_ += signal.samplesPerRecord;
  }
}

RecordAssembler::Pending& RecordAssembler::pendingFor(std::uint64_t frame) {
  // Blocks come frame by frame, so nearly every one is for the first record.
  if (frame == firstPendingFrame_ && !pending_.empty()) {
    return pending_.front();
  }
  while (firstPendingFrame_ + pending_.size() <= frame) {
    Pending record;
    if (!spare_.empty()) {
      record = std::move(spare_.back());
      spare_.pop_back();
    }
    record.samples.resize(recordSize_);
    record.delivered.assign(signals_.size(), kUnset);
    record.missingSignals = signals_.size();
    pending_.push_back(std::move(record));
  }
  return pending_[static_cast<std::size_t>(frame - firstPendingFrame_)];
}

void RecordAssembler::add(std::size_t signal, std::uint64_t frame, const float* values,
                          std::uint64_t count) {
  const SignalSlot& slot = signals_[signal];
  SignalCounts& counts = counts_[signal];
  if (frame < nextFrame_[signal]) {
    counts.late += count;
    return;
  }
  nextFrame_[signal] = frame + 1;
  if (frame < firstPendingFrame_) {
    counts.late += count;
    return;
  }
  Pending& record = pendingFor(frame);
  const std::uint64_t kept = std::min<std::uint64_t>(count, slot.samplesPerRecord);
  float* out = record.samples.data() + offsets_[signal];
  for (std::uint64_t i = 0; i < kept; ++i) {
    const float value = values[i];
    const auto physical = static_cast<double>(value);
    if (physical >= slot.minimum && physical <= slot.maximum) {
      out[i] = value;
    } else {
      ++counts.clipped;
      out[i] = std::isnan(value)
                   ? kFillValue
                   : static_cast<float>(std::clamp(physical, slot.minimum, slot.maximum));
    }
  }
  std::fill(out + kept, out + slot.samplesPerRecord, kFillValue);
  counts.kept += kept;
  counts.beyond += count - kept;
  record.delivered[signal] = count;
  --record.missingSignals;
  while (!pending_.empty() &&
         (pending_.front().missingSignals == 0 || pending_.size() > kMaxPendingRecords)) {
    emitFront();
  }
}

void RecordAssembler::skip(std::uint64_t first, std::uint64_t count) {
  while (!pending_.empty() && firstPendingFrame_ < first) {
    emitFront();
  }
  while (firstPendingFrame_ < first) {
    emitGap();
  }
  // Whatever arrived for these frames already is kept; the rest are gaps.
  while (!pending_.empty() && firstPendingFrame_ < first + count) {
    emitFront();
  }
  while (firstPendingFrame_ < first + count) {
    emitGap();
  }
}

// A record no block reached, written without holding storage for it.
void RecordAssembler::emitGap() {
  for (std::size_t s = 0; s < signals_.size(); ++s) {
    counts_[s].filled += signals_[s].samplesPerRecord;
    nextFrame_[s] = std::max(nextFrame_[s], firstPendingFrame_ + 1);
  }
  for (std::size_t sensor = 0; sensor < beyond_.size(); ++sensor) {
    noteBeyond(sensor, firstPendingFrame_, 0);
  }
  ready_.insert(ready_.end(), recordSize_, kFillValue);
  ++readyRecords_;
  ++emitted_;
  ++firstPendingFrame_;
}

void RecordAssembler::emitFront() {
  Pending& record = pending_.front();
  const std::uint64_t frame = firstPendingFrame_;
  for (std::size_t s = 0; s < signals_.size(); ++s) {
    if (record.delivered[s] == kUnset) {
      float* slot = record.samples.data() + offsets_[s];
      std::fill(slot, slot + signals_[s].samplesPerRecord, kFillValue);
    }
    const std::uint64_t delivered = record.delivered[s] == kUnset ? 0 : record.delivered[s];
    counts_[s].filled += signals_[s].samplesPerRecord -
                         std::min<std::uint64_t>(delivered, signals_[s].samplesPerRecord);
  }
  noteSensors(record, frame);
  ready_.insert(ready_.end(), record.samples.begin(), record.samples.end());
  ++readyRecords_;
  ++emitted_;
  ++firstPendingFrame_;
  spare_.push_back(std::move(record));
  pending_.pop_front();
}

// Samples beyond their slots, which no record can hold, are annotated per
// sensor; silences are the recording's to judge, once for every output.
void RecordAssembler::noteSensors(const Pending& record, std::uint64_t frame) {
  std::vector<std::uint64_t>& beyond = beyondSamples_;
  beyond.assign(beyond_.size(), 0);
  for (std::size_t s = 0; s < signals_.size(); ++s) {
    const SignalSlot& slot = signals_[s];
    const std::uint64_t delivered = record.delivered[s] == kUnset ? 0 : record.delivered[s];
    if (delivered > slot.samplesPerRecord) {
      beyond[slot.sensor] += delivered - slot.samplesPerRecord;
    }
  }
  for (std::size_t sensor = 0; sensor < beyond.size(); ++sensor) {
    noteBeyond(sensor, frame, beyond[sensor]);
  }
}

void RecordAssembler::noteBeyond(std::size_t sensor, std::uint64_t frame, std::uint64_t samples) {
  BeyondRun& run = beyond_[sensor];
  if (run.samples > 0 && (samples == 0 || run.endFrame != frame)) {
    closeBeyond(sensor);
  }
  if (samples == 0) {
    return;
  }
  if (run.samples == 0) {
    run.firstFrame = frame;
  }
  run.endFrame = frame + 1;
  run.samples += samples;
}

void RecordAssembler::closeBeyond(std::size_t sensor) {
  BeyondRun& run = beyond_[sensor];
  const double onset = static_cast<double>(run.firstFrame) * kFramePeriodSeconds;
  const double end = static_cast<double>(run.endFrame) * kFramePeriodSeconds;
  annotations_.push_back(
      {onset, end - onset,
       sensorLabel(sensor) + " " + std::to_string(run.samples) + " extra samples left out"});
  run = BeyondRun{};
}

void RecordAssembler::finish() {
  while (!pending_.empty()) {
    emitFront();
  }
  for (std::size_t sensor = 0; sensor < beyond_.size(); ++sensor) {
    if (beyond_[sensor].samples > 0) {
      closeBeyond(sensor);
    }
  }
}

void RecordAssembler::clearReady() {
  ready_.clear();
  readyRecords_ = 0;
}

std::vector<Annotation> RecordAssembler::takeAnnotations() {
  std::vector<Annotation> taken;
  taken.swap(annotations_);
  return taken;
}

}  // namespace bvhost
