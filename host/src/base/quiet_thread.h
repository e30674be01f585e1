// Threads beside the recording must never take a stop signal: Ctrl-C has
// to reach the recording thread, whose sleep it cuts short.
#pragma once

#include <functional>
#include <thread>

namespace bvhost {

// A thread, and any it starts, with SIGINT, SIGTERM and SIGHUP blocked.
std::thread threadWithoutStopSignals(std::function<void()> body);

}  // namespace bvhost
