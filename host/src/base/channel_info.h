// What bvhost knows of one channel of a recording once the plug-in has
// described it: plain facts that every output and view reads the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Short, unique per recording: "S<component number> <channel name>".
std::string shortLabel(const ChannelInfo& channel);

}  // namespace bvhost
