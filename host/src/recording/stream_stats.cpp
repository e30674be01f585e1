#include "recording/stream_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/frame_period.h"
#include "base/units.h"
#include "files/record_assembler.h"

namespace bvhost {

namespace {

std::size_t sensorCount(const std::vector<ChannelInfo>& channels) {
  std::size_t sensors = 0;
  for (const auto& channel : channels) {
    sensors = std::max(sensors, channel.componentIndex + 1);
  }
  return sensors;
}

}  // namespace

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

namespace {

long long expectedSamples(const ChannelInfo& info, double elapsedSeconds) {
  return static_cast<long long>(std::llround(info.rate * elapsedSeconds));
}

// Worth a row of its own in the compact summary: more than a couple of
// frames short or over (a stop's last read can end mid-frame), a break in
// firstIndex, or samples no EDF+/BDF+ record can hold.
bool needsALook(const ChannelInfo& info, const ChannelStats& stats, double elapsedSeconds) {
  const long long diff =
      static_cast<long long>(stats.received) - expectedSamples(info, elapsedSeconds);
  const auto tolerance =
      static_cast<long long>(2 * std::max<std::uint64_t>(info.samplesPerFrame, 1));
  return std::llabs(diff) > tolerance || stats.gaps > 0 || stats.beyondFrame > 0;
}

}  // namespace

std::string StreamStats::channelTable(double elapsedSeconds, bool onlyOff) const {
  std::size_t componentWidth = 9;
  std::size_t channelWidth = 7;
  for (const auto& channel : channels_) {
    componentWidth = std::max(componentWidth, channel.component.size());
    channelWidth = std::max(channelWidth, channel.channel.size());
  }
  const int cw = static_cast<int>(componentWidth);
  const int hw = static_cast<int>(channelWidth);
  std::string rows;
  char line[512];
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const ChannelInfo& info = channels_[i];
    const ChannelStats& stats = stats_[i];
    if (onlyOff && !needsALook(info, stats, elapsedSeconds)) {
      continue;
    }
    const long long expected = expectedSamples(info, elapsedSeconds);
    const long long diff = static_cast<long long>(stats.received) - expected;
    std::snprintf(line, sizeof line, "%-*s  %-*s  %-10s  %9.2f  %9llu  %9lld  %+6lld  %4llu\n", cw,
                  info.component.c_str(), hw, info.channel.c_str(), edfDimension(info.unit).c_str(),
                  info.rate, static_cast<unsigned long long>(stats.received), expected, diff,
                  static_cast<unsigned long long>(stats.gaps));
    rows += line;
  }
  if (rows.empty()) {
    return rows;
  }
  std::snprintf(line, sizeof line, "%-*s  %-*s  %-10s  %9s  %9s  %9s  %6s  %4s\n", cw, "component",
                hw, "channel", "unit", "rate/Hz", "received", "expected", "diff", "gaps");
  return line + rows;
}

std::string StreamStats::sensorTable(double elapsedSeconds) const {
  struct Totals {
    std::string name;
    std::size_t channels = 0;
    std::uint64_t received = 0;
    long long expected = 0;
    std::uint64_t gaps = 0;
  };
  std::vector<Totals> sensors(sensorFrames_.size());
  std::size_t nameWidth = 4;
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const ChannelInfo& info = channels_[i];
    Totals& totals = sensors[info.componentIndex];
    totals.name = info.component;
    ++totals.channels;
    totals.received += stats_[i].received;
    totals.expected += expectedSamples(info, elapsedSeconds);
    totals.gaps += stats_[i].gaps;
    nameWidth = std::max(nameWidth, info.component.size());
  }
  const int nw = static_cast<int>(nameWidth);
  char line[512];
  std::snprintf(line, sizeof line, "%-6s  %-*s  %8s  %10s  %10s  %7s  %4s\n", "sensor", nw, "name",
                "channels", "received", "expected", "diff", "gaps");
  std::string text = line;
  for (std::size_t sensor = 0; sensor < sensors.size(); ++sensor) {
    const Totals& totals = sensors[sensor];
    if (totals.channels == 0) {
      continue;
    }
    std::snprintf(line, sizeof line, "%-6s  %-*s  %8zu  %10llu  %10lld  %+7lld  %4llu\n",
                  sensorLabel(sensor).c_str(), nw, totals.name.c_str(), totals.channels,
                  static_cast<unsigned long long>(totals.received), totals.expected,
                  static_cast<long long>(totals.received) - totals.expected,
                  static_cast<unsigned long long>(totals.gaps));
    text += line;
  }
  const std::string off = channelTable(elapsedSeconds, true);
  if (!off.empty()) {
    text +=
        "Channels off by more than two frames, with gaps, or with samples beyond a frame:\n" + off;
  }
  return text;
}

std::string StreamStats::summary(double elapsedSeconds, std::uint64_t frames,
                                 SummaryDetail detail) const {
  const std::size_t sensors = silences_.sensors();
  if (detail == SummaryDetail::Automatic) {
    detail = sensors <= kChannelTableSensors ? SummaryDetail::Channels : SummaryDetail::Sensors;
  }
  std::string text;
  char line[512];
  std::snprintf(line, sizeof line,
                "Summary: %.3f s of stream time, %llu frames, %llu samples in %zu channels of %zu "
                "sensor(s)\n",
                elapsedSeconds, static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(total_), channels_.size(), sensors);
  text += line;
  text += detail == SummaryDetail::Channels ? channelTable(elapsedSeconds, false)
                                            : sensorTable(elapsedSeconds);
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    if (!stats_[i].firstGap.empty()) {
      text += "gap in " + shortLabel(channels_[i]) + ": " + stats_[i].firstGap + "\n";
    }
  }
  if (unknownBlocks_ > 0) {
    text += std::to_string(unknownBlocks_) +
            " block(s) named a channel the configuration never described, first " + firstUnknown_ +
            "\n";
  }
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    if (stats_[i].beyondFrame > 0) {
      text += shortLabel(channels_[i]) + ": " + std::to_string(stats_[i].beyondFrame) +
              " sample(s) beyond their frame: CSV keeps them, EDF+/BDF+ leave them out\n";
    }
  }
  text += silenceSummary();
  text += lostSummary();
  if (totalGaps() > 0) {
    text += std::to_string(totalGaps()) + " gap(s) in firstIndex.\n";
  }
  return text;
}

}  // namespace bvhost

namespace bvhost {

std::string StreamStats::silenceSummary() const {
  std::string text;
  std::size_t total = 0;
  char line[128];
  for (std::size_t sensor = 0; sensor < silences_.sensors(); ++sensor) {
    const auto& silences = silences_.silences(sensor);
    total += silences.size();
    if (silences.empty()) {
      continue;
    }
    text += sensorLabel(sensor) + " no data:";
    for (const auto& silence : silences) {
      std::snprintf(line, sizeof line, " %.4f s for %.4f s;", silence.onsetSeconds,
                    silence.durationSeconds);
      text += line;
    }
    text.back() = '\n';
  }
  return total == 0 && lost_.empty() ? "Every sensor delivered every frame in full.\n" : text;
}

// One line a script can look for: "Frames lost: " and the count.
std::string StreamStats::lostSummary() const {
  if (lost_.empty()) {
    return "";
  }
  char line[160];
  std::snprintf(line, sizeof line, "Frames lost: %llu (%.4f s), before they reached bvhost:",
                static_cast<unsigned long long>(lostFrames()),
                static_cast<double>(lostFrames()) * kFramePeriodSeconds);
  std::string text = line;
  for (const auto& span : lost_) {
    std::snprintf(line, sizeof line, " %.4f s for %.4f s%s;",
                  static_cast<double>(span.firstFrame) * kFramePeriodSeconds,
                  static_cast<double>(span.frames) * kFramePeriodSeconds,
                  span.placeUncertain ? " (place uncertain)" : "");
    text += line;
  }
  text.back() = '\n';
  return text;
}

}  // namespace bvhost
