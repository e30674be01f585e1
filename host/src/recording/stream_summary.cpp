// StreamStats::summary: what a recording's end prints of the counts
// StreamStats keeps, as tables and lines a person or a script reads.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/frame_period.h"
#include "base/units.h"
#include "recording/stream_stats.h"

namespace bvhost {
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

// Rows of every channel, or of only those that need a look; empty when
// there are none to show.
std::string channelTable(const StreamStats& stats, double elapsedSeconds, bool onlyOff) {
  const std::vector<ChannelInfo>& channels = stats.channels();
  std::size_t componentWidth = 9;
  std::size_t channelWidth = 7;
  for (const auto& channel : channels) {
    componentWidth = std::max(componentWidth, channel.component.size());
    channelWidth = std::max(channelWidth, channel.channel.size());
  }
  const int cw = static_cast<int>(componentWidth);
  const int hw = static_cast<int>(channelWidth);
  std::string rows;
  char line[512];
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const ChannelInfo& info = channels[i];
    const ChannelStats& counts = stats.channel(i);
    if (onlyOff && !needsALook(info, counts, elapsedSeconds)) {
      continue;
    }
    const long long expected = expectedSamples(info, elapsedSeconds);
    const long long diff = static_cast<long long>(counts.received) - expected;
    std::snprintf(line, sizeof line, "%-*s  %-*s  %-10s  %9.2f  %9llu  %9lld  %+6lld  %4llu\n", cw,
                  info.component.c_str(), hw, info.channel.c_str(), edfDimension(info.unit).c_str(),
                  info.rate, static_cast<unsigned long long>(counts.received), expected, diff,
                  static_cast<unsigned long long>(counts.gaps));
    rows += line;
  }
  if (rows.empty()) {
    return rows;
  }
  std::snprintf(line, sizeof line, "%-*s  %-*s  %-10s  %9s  %9s  %9s  %6s  %4s\n", cw, "component",
                hw, "channel", "unit", "rate/Hz", "received", "expected", "diff", "gaps");
  return line + rows;
}

std::string sensorTable(const StreamStats& stats, double elapsedSeconds) {
  struct Totals {
    std::string name;
    std::size_t channels = 0;
    std::uint64_t received = 0;
    long long expected = 0;
    std::uint64_t gaps = 0;
  };
  const std::vector<ChannelInfo>& channels = stats.channels();
  std::vector<Totals> sensors(stats.silences().sensors());
  std::size_t nameWidth = 4;
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const ChannelInfo& info = channels[i];
    Totals& totals = sensors[info.componentIndex];
    totals.name = info.component;
    ++totals.channels;
    totals.received += stats.channel(i).received;
    totals.expected += expectedSamples(info, elapsedSeconds);
    totals.gaps += stats.channel(i).gaps;
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
  const std::string off = channelTable(stats, elapsedSeconds, true);
  if (!off.empty()) {
    text +=
        "Channels off by more than two frames, with gaps, or with samples beyond a frame:\n" + off;
  }
  return text;
}

std::string silenceSummary(const StreamStats& stats) {
  const SilenceTracker& tracker = stats.silences();
  std::string text;
  std::size_t total = 0;
  char line[128];
  for (std::size_t sensor = 0; sensor < tracker.sensors(); ++sensor) {
    const auto& silences = tracker.silences(sensor);
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
  return total == 0 && stats.lostSpans().empty() ? "Every sensor delivered every frame in full.\n"
                                                 : text;
}

// One line a script can look for: "Frames lost: " and the count.
std::string lostSummary(const StreamStats& stats) {
  if (stats.lostSpans().empty()) {
    return "";
  }
  char line[160];
  std::snprintf(line, sizeof line, "Frames lost: %llu (%.4f s), before they reached bvhost:",
                static_cast<unsigned long long>(stats.lostFrames()),
                static_cast<double>(stats.lostFrames()) * kFramePeriodSeconds);
  std::string text = line;
  for (const auto& span : stats.lostSpans()) {
    std::snprintf(line, sizeof line, " %.4f s for %.4f s%s;",
                  static_cast<double>(span.firstFrame) * kFramePeriodSeconds,
                  static_cast<double>(span.frames) * kFramePeriodSeconds,
                  span.placeUncertain ? " (place uncertain)" : "");
    text += line;
  }
  text.back() = '\n';
  return text;
}

}  // namespace

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
  text += detail == SummaryDetail::Channels ? channelTable(*this, elapsedSeconds, false)
                                            : sensorTable(*this, elapsedSeconds);
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
  text += silenceSummary(*this);
  text += lostSummary(*this);
  if (totalGaps() > 0) {
    text += std::to_string(totalGaps()) + " gap(s) in firstIndex.\n";
  }
  return text;
}

}  // namespace bvhost
