// The device's frame: every channel's samples of one frame are delivered
// together, and a channel's rate is a whole number of samples per frame.
// Time in a recording is counted in frames from the start of the stream.
#pragma once

#include <chrono>

namespace bvhost {

inline constexpr std::chrono::microseconds kFramePeriod{13500};
inline constexpr double kFramePeriodSeconds = std::chrono::duration<double>(kFramePeriod).count();

}  // namespace bvhost
