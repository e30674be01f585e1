#include "app/live_feed.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>

namespace bvhost {
namespace {

constexpr std::size_t kViewSilencesPerSensor = 20;

}  // namespace

// The page's marker box posts into the same inbox as the terminal and the
// socket, so its markers meet the same rules and the same time line.
void acceptPageMarkers(LiveView& live, MarkerInbox& inbox) {
  live.acceptMarkers(
      [&inbox](std::string_view text, std::chrono::steady_clock::time_point received) {
        MarkerReply reply = inbox.offer(text, received);
        return std::pair<bool, std::string>(reply.accepted, std::move(reply.line));
      });
}

void LiveTapSink::mark(const Annotation& marker) { tap_.mark(marker.onsetSeconds, marker.text); }

ViewSetup viewSetup(const RecordingSession& session, const std::vector<OutputFile>& files) {
  ViewSetup setup;
  setup.plugin = session.info().pluginName + " " + session.info().pluginVersion;
  for (const auto& file : files) {
    setup.outputs.push_back(file.path);
  }
  for (const SensorInfo& sensor : session.sensors()) {
    setup.sensors.push_back({sensor.name, sensor.properties});
  }
  setup.channels = session.channels();
  return setup;
}

ViewStatus viewStatus(const RecordingSession& session, double seconds, bool writing) {
  const RecordingFrames& frames = session.frames();
  ViewStatus status;
  status.elapsedSeconds =
      std::chrono::duration<double>(RecordingSession::Clock::now() - session.streamStart()).count();
  status.targetSeconds = seconds;
  status.frames = frames.keptFrames();
  status.writing = writing;
  const SilenceTracker& silences = frames.stats().silences();
  for (std::size_t sensor = 0; sensor < silences.sensors(); ++sensor) {
    // The latest only: a sensor that drops out again and again for hours
    // must not make every status larger than the last.
    const auto& all = silences.silences(sensor);
    const std::size_t shown = std::min<std::size_t>(all.size(), kViewSilencesPerSensor);
    status.silences.emplace_back(all.end() - static_cast<std::ptrdiff_t>(shown), all.end());
    status.silenceCounts.push_back(all.size());
    status.openSilenceOnset.push_back(silences.openOnset(sensor).value_or(-1.0));
  }
  return status;
}

}  // namespace bvhost
