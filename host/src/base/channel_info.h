// What bvhost knows of one channel of a recording once the plug-in has
// described it: plain facts that every output and view reads the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bvhost {

struct ChannelInfo {
  std::size_t componentIndex = 0;
  std::string component;
  std::string channel;
  std::int32_t unit = 0;
  double rate = 0.0;
  std::uint64_t samplesPerFrame = 0;
};

std::uint64_t samplesPerFrame(double rate);

// The rate a channel reports for a given one: whole samples per frame,
// rounded half away from zero, over the frame period, in the float a rate
// is reported as.
struct FrameRate {
  std::uint64_t samplesPerFrame = 0;
  float rate = 0.0f;

  // Whether `reported` is this rate, up to the float's last bit above it.
  bool matches(double reported) const;
};
FrameRate frameRate(double rate);

// "S2" for the sensor of component index 1: sensors count from 1.
std::string sensorLabel(std::size_t componentIndex);

// Short, unique per recording: "S<component number> <channel name>".
std::string shortLabel(const ChannelInfo& channel);

// How many sensors the channels span: the highest component index plus one,
// so a sensor with no channel of its own between two others still counts.
std::size_t sensorCount(const std::vector<ChannelInfo>& channels);
// The same over only the channels at the indices `among`.
std::size_t sensorCount(const std::vector<ChannelInfo>& channels,
                        const std::vector<std::size_t>& among);

}  // namespace bvhost
