// Times as the files write them.
#pragma once

#include <chrono>
#include <string>

namespace bvhost {

// "2026-12-08T10:53:19.123456+01:00", local time with its offset.
std::string isoTime(std::chrono::system_clock::time_point time);

}  // namespace bvhost
