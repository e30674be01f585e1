#include "recording/stream_stats.h"

#include <algorithm>

#include "base/frame_period.h"

namespace bvhost {

StreamStats::StreamStats(const std::vector<ChannelInfo>& channels)
    : channels_(channels),
      stats_(channels.size()),
      sensorFrames_(sensorCount(channels)),
      silences_(sensorCount(channels)) {}

std::string silenceText(std::size_t sensor) { return sensorLabel(sensor) + " no data"; }

std::string lostFramesText(const LostSpan& span) {
  return span.placeUncertain ? "frames lost, place uncertain" : "frames lost";
}

void StreamStats::noteClosed(std::size_t sensor, const Silence& silence) {
  timeline_.push_back(
      {{silence.onsetSeconds, silence.durationSeconds, silenceText(sensor)}, false});
}

void StreamStats::noteSensorFrame(std::size_t sensor) {
  SensorFrame& gathered = sensorFrames_[sensor];
  if (!gathered.gathering) {
    return;
  }
  gathered.gathering = false;
  if (gathered.missingFrom >= kFramePeriodSeconds) {
    if (const auto closed = silences_.noteFullFrame(sensor)) {
      noteClosed(sensor, *closed);
    }
    return;
  }
  const auto before = silences_.openOnset(sensor);
  const auto closed = silences_.noteShortFrame(sensor, gathered.frame, gathered.missingFrom);
  if (closed) {
    noteClosed(sensor, *closed);
  }
  if (closed || !before) {
    timeline_.push_back({{*silences_.openOnset(sensor), -1.0, silenceText(sensor)}, true});
  }
}

void StreamStats::finish() {
  for (std::size_t sensor = 0; sensor < sensorFrames_.size(); ++sensor) {
    noteSensorFrame(sensor);
  }
  for (const auto& [sensor, silence] : silences_.closeAll()) {
    noteClosed(sensor, silence);
  }
}

void StreamStats::noteLost(const LostSpan& span) {
  for (std::size_t sensor = 0; sensor < sensorFrames_.size(); ++sensor) {
    noteSensorFrame(sensor);
  }
  for (const auto& [sensor, silence] : silences_.closeAll()) {
    noteClosed(sensor, silence);
  }
  lost_.push_back(span);
  timeline_.push_back(
      {{static_cast<double>(span.firstFrame) * kFramePeriodSeconds,
        static_cast<double>(span.frames) * kFramePeriodSeconds, lostFramesText(span)},
       false});
}

std::uint64_t StreamStats::lostFrames() const {
  std::uint64_t frames = 0;
  for (const auto& span : lost_) {
    frames += span.frames;
  }
  return frames;
}

std::vector<StreamStats::TimelineNote> StreamStats::takeTimeline() {
  std::vector<TimelineNote> taken;
  taken.swap(timeline_);
  return taken;
}

void StreamStats::add(std::size_t channel, std::uint64_t frame, const SampleBlock& block) {
  ChannelStats& stats = stats_[channel];
  if (block.firstIndex != stats.nextIndex) {
    ++stats.gaps;
    if (stats.firstGap.empty()) {
      stats.firstGap = "expected firstIndex " + std::to_string(stats.nextIndex) + ", got " +
                       std::to_string(block.firstIndex);
    }
  }
  const ChannelInfo& info = channels_[channel];
  if (block.count != info.samplesPerFrame) {
    ++stats.offSizeBlocks;
  }
  // The channel's k-th block is its part of frame k; a sensor's frame is
  // gathered from its channels' blocks and judged once the next one begins.
  if (info.samplesPerFrame > 0) {
    SensorFrame& gathered = sensorFrames_[info.componentIndex];
    if (gathered.gathering && gathered.frame != frame) {
      noteSensorFrame(info.componentIndex);
    }
    if (!gathered.gathering) {
      gathered = SensorFrame{frame, kFramePeriodSeconds, true};
    }
    if (block.count < info.samplesPerFrame) {
      gathered.missingFrom =
          std::min(gathered.missingFrom, static_cast<double>(block.count) /
                                             static_cast<double>(info.samplesPerFrame) *
                                             kFramePeriodSeconds);
    } else {
      stats.beyondFrame += block.count - info.samplesPerFrame;
    }
  }
  ++stats.blocks;
  stats.received += block.count;
  stats.nextIndex = block.firstIndex + block.count;
  total_ += block.count;
}

void StreamStats::noteUnknownBlock(const char* component, const char* channel) {
  if (unknownBlocks_++ == 0) {
    firstUnknown_ = std::string(component != nullptr ? component : "(null)") + " / " +
                    (channel != nullptr ? channel : "(null)");
  }
}

std::uint64_t StreamStats::totalGaps() const {
  std::uint64_t gaps = 0;
  for (const auto& stats : stats_) {
    gaps += stats.gaps;
  }
  return gaps;
}

}  // namespace bvhost
