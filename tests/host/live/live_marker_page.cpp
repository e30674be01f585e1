// A stand-in for a recording that takes markers, serving the live view's page
// so that Chromium can use its marker box (scripts/live_markers_in_chromium.py):
// two sensors of sine waves, a marker of its own, "stimulus on", at 1 s, and
// every marker the page posts placed at the moment it arrived and handed back
// to the view, as a recording does. Prints "posted: TEXT" for each marker its
// post was given, and ends, telling the page, once stdin says "end" or closes.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "live/live_view.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFrame = std::chrono::microseconds(13500);

bvhost::ChannelInfo channel(std::size_t sensor, const char* name, std::int32_t unit, double rate,
                            std::uint64_t perFrame) {
  bvhost::ChannelInfo info;
  info.componentIndex = sensor;
  info.component = "S" + std::to_string(sensor + 1);
  info.channel = name;
  info.unit = unit;
  info.rate = rate;
  info.samplesPerFrame = perFrame;
  return info;
}

struct Posted {
  std::string text;
  Clock::time_point received;
};

}  // namespace

int main() {
  bvhost::LiveView live(bvhost::LiveOptions{true, "127.0.0.1", 0});
  std::mutex mutex;
  std::vector<Posted> inbox;
  live.acceptMarkers([&](std::string_view text, Clock::time_point received) {
    std::lock_guard lock(mutex);
    if (text == "refuse me") {
      return std::pair<bool, std::string>(false, "refused: the test recording refuses this one");
    }
    inbox.push_back(Posted{std::string(text), received});
    std::printf("posted: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
    return std::pair<bool, std::string>(true, "ok, marked");
  });
  // Units 8 and 4: volts and g.
  const std::vector<bvhost::ChannelInfo> channels = {
      channel(0, "EMG", 8, 2148.1481, 29), channel(0, "ACC X", 4, 148.14815, 2),
      channel(1, "EMG", 8, 2148.1481, 29), channel(1, "ACC X", 4, 148.14815, 2)};
  live.begin(
      bvhost::ViewSetup{"marker test 1.0", {}, {{"Trigno A", {}}, {"Trigno B", {}}}, channels});

  std::atomic<bool> going = true;
  std::thread input([&] {
    std::string line;
    while (std::getline(std::cin, line) && line != "end") {
    }
    going = false;
  });

  bvhost::LiveTap& tap = *live.tap();
  const auto start = Clock::now();
  bool stimulus = false;
  std::uint64_t frame = 0;
  std::vector<float> values;
  while (going) {
    const auto due = start + kFrame * frame;
    std::this_thread::sleep_until(due);
    for (std::size_t c = 0; c < channels.size(); ++c) {
      values.resize(channels[c].samplesPerFrame);
      for (std::size_t i = 0; i < values.size(); ++i) {
        const double t = (static_cast<double>(frame) +
                          static_cast<double>(i) / static_cast<double>(values.size())) *
                         0.0135;
        values[i] = static_cast<float>(std::sin(2 * std::numbers::pi * (c + 1) * t) * 1e-3);
      }
      tap.add(c, frame, values.data(), values.size());
    }
    if (!stimulus && frame * 0.0135 >= 1.0) {
      stimulus = true;
      tap.mark(1.0, "stimulus on");
    }
    {
      std::lock_guard lock(mutex);
      for (auto& marker : inbox) {
        tap.mark(std::chrono::duration<double>(marker.received - start).count(),
                 std::move(marker.text));
      }
      inbox.clear();
    }
    tap.afterRead();
    const auto now = Clock::now();
    if (tap.statusDue(now)) {
      bvhost::ViewStatus status;
      status.elapsedSeconds = std::chrono::duration<double>(now - start).count();
      status.frames = frame + 1;
      status.silences.resize(2);
      status.silenceCounts.resize(2);
      status.openSilenceOnset.assign(2, -1.0);
      tap.offerStatus(status, now);
    }
    ++frame;
  }
  input.join();
  bvhost::ViewStatus last;
  last.elapsedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  last.frames = frame;
  last.silences.resize(2);
  last.silenceCounts.resize(2);
  last.openSilenceOnset.assign(2, -1.0);
  live.end(last);
  return 0;
}
