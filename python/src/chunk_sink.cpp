#include "chunk_sink.h"

#include <algorithm>

#include "base/frame_period.h"
#include "base/units.h"
#include "files/edf_setup.h"
#include "files/record_assembler.h"

namespace kessra_python {

using bvhost::Annotation;
using bvhost::ChannelInfo;

std::vector<RateGroup> rateGroups(const std::vector<ChannelInfo>& channels) {
  std::vector<RateGroup> groups;
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const std::uint64_t perFrame = channels[i].samplesPerFrame;
    if (perFrame == 0) {
      continue;
    }
    auto group = std::find_if(groups.begin(), groups.end(), [perFrame](const RateGroup& g) {
      return g.samplesPerFrame == perFrame;
    });
    if (group == groups.end()) {
      groups.push_back({perFrame, static_cast<double>(perFrame) / bvhost::kFramePeriodSeconds, {}});
      group = groups.end() - 1;
    }
    group->channels.push_back(i);
  }
  return groups;
}

ChunkSink::ChunkSink(const std::vector<ChannelInfo>& channels, std::vector<RateGroup> groups)
    : groups_(std::move(groups)), signalOf_(channels.size(), -1) {
  // Signals in inventory order, as the files number them, each with the
  // range and fill the files give it.
  std::vector<bvhost::SignalSlot> slots;
  std::vector<std::pair<std::size_t, std::size_t>> place(channels.size());
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    for (std::size_t row = 0; row < groups_[g].channels.size(); ++row) {
      place[groups_[g].channels[row]] = {g, row};
    }
  }
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const ChannelInfo& channel = channels[i];
    if (channel.samplesPerFrame == 0) {
      notes_.push_back({{0.0, -1.0, "no signal: " + bvhost::edfLabel(channel)}, false});
      continue;
    }
    signalOf_[i] = static_cast<int>(slots.size());
    groupOf_.push_back(place[i].first);
    rowOf_.push_back(place[i].second);
    const bvhost::PhysicalRange range = bvhost::physicalRange(channel.unit);
    slots.push_back({channel.componentIndex, static_cast<std::size_t>(channel.samplesPerFrame),
                     range.minimum, range.maximum});
  }
  assembler_ =
      std::make_unique<bvhost::RecordAssembler>(std::move(slots), bvhost::sensorCount(channels));
}

ChunkSink::~ChunkSink() = default;

void ChunkSink::write(std::size_t channel, std::uint64_t frame, std::uint64_t, const float* values,
                      std::uint64_t count) {
  const int signal = signalOf_[channel];
  if (signal >= 0) {
    assembler_->add(static_cast<std::size_t>(signal), frame, values, count);
  }
}

void ChunkSink::skipFrames(std::uint64_t first, std::uint64_t count) {
  assembler_->skip(first, count);
}

void ChunkSink::annotate(const Annotation& annotation, bool begins) {
  notes_.push_back({annotation, begins});
}

void ChunkSink::finish() { assembler_->finish(); }

bool ChunkSink::hasNews() const { return assembler_->readyRecords() > 0 || !notes_.empty(); }

// The assembler's records hold every signal's samples of a frame one after
// the other; a chunk holds each channel's samples of all its frames in a row.
Chunk ChunkSink::take() {
  Chunk chunk;
  const std::size_t records = assembler_->readyRecords();
  chunk.firstFrame = taken_;
  chunk.frames = records;
  chunk.data.resize(groups_.size());
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    chunk.data[g].resize(groups_[g].channels.size() * records * groups_[g].samplesPerFrame);
  }
  const float* record = assembler_->readyData().data();
  const std::size_t recordSize = assembler_->recordSize();
  for (std::size_t r = 0; r < records; ++r, record += recordSize) {
    const float* samples = record;
    for (std::size_t s = 0; s < groupOf_.size(); ++s) {
      const std::size_t perFrame = groups_[groupOf_[s]].samplesPerFrame;
      const std::size_t rowLength = records * perFrame;
      float* out = chunk.data[groupOf_[s]].data() + rowOf_[s] * rowLength + r * perFrame;
      std::copy(samples, samples + perFrame, out);
      samples += perFrame;
    }
  }
  assembler_->clearReady();
  taken_ += records;
  for (auto& annotation : assembler_->takeAnnotations()) {
    notes_.push_back({std::move(annotation), false});
  }
  chunk.notes.swap(notes_);
  return chunk;
}

}  // namespace kessra_python
