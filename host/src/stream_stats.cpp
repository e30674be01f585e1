#include "stream_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "units.h"

namespace bvhost {

StreamStats::StreamStats(const std::vector<ChannelInfo>& channels)
    : channels_(channels), stats_(channels.size()) {}

void StreamStats::add(std::size_t channel, const SampleBlock& block) {
  ChannelStats& stats = stats_[channel];
  if (block.firstIndex != stats.nextIndex) {
    ++stats.gaps;
    if (stats.firstGap.empty()) {
      stats.firstGap = "expected firstIndex " + std::to_string(stats.nextIndex) + ", got " +
                       std::to_string(block.firstIndex);
    }
  }
  if (block.count != channels_[channel].samplesPerFrame) {
    ++stats.offSizeBlocks;
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

std::string StreamStats::summary(double elapsedSeconds, std::uint64_t frames) const {
  std::size_t componentWidth = 9;
  std::size_t channelWidth = 7;
  for (const auto& channel : channels_) {
    componentWidth = std::max(componentWidth, channel.component.size());
    channelWidth = std::max(channelWidth, channel.channel.size());
  }
  const int cw = static_cast<int>(componentWidth);
  const int hw = static_cast<int>(channelWidth);
  std::string text;
  char line[512];
  std::snprintf(line, sizeof line,
                "Summary: %.3f s of stream time, %llu frames, %llu samples in %zu channels\n",
                elapsedSeconds, static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(total_), channels_.size());
  text += line;
  std::snprintf(line, sizeof line, "%-*s  %-*s  %-10s  %9s  %9s  %9s  %6s  %4s\n", cw, "component",
                hw, "channel", "unit", "rate/Hz", "received", "expected", "diff", "gaps");
  text += line;
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const ChannelInfo& info = channels_[i];
    const ChannelStats& stats = stats_[i];
    const auto expected = static_cast<long long>(std::llround(info.rate * elapsedSeconds));
    const long long diff = static_cast<long long>(stats.received) - expected;
    std::snprintf(line, sizeof line, "%-*s  %-*s  %-10s  %9.2f  %9llu  %9lld  %+6lld  %4llu\n", cw,
                  info.component.c_str(), hw, info.channel.c_str(), unitName(info.unit).c_str(),
                  info.rate, static_cast<unsigned long long>(stats.received), expected, diff,
                  static_cast<unsigned long long>(stats.gaps));
    text += line;
  }
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
  text += totalGaps() == 0 ? "No gaps in firstIndex.\n"
                           : std::to_string(totalGaps()) + " gap(s) in firstIndex.\n";
  return text;
}

}  // namespace bvhost
