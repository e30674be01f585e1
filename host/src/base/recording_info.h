// What a recording's outputs say of where it came from and when it began.
#pragma once

#include <chrono>
#include <string>

namespace bvhost {

struct RecordingInfo {
  std::string pluginName;
  std::string pluginVersion;
  // When bv_start_streaming was called: the start of the stream's first frame.
  std::chrono::system_clock::time_point start{};
};

}  // namespace bvhost
