#include "app/live_feed.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>

namespace bvhost {
namespace {

constexpr std::size_t kViewSilencesPerSensor = 20;

// The page's marker box and the markers drawn on its traces belong to the
// live view, whose side of them (LiveView::acceptMarkers, LiveTap::mark) a
// build may not have yet; these use it where it is there and otherwise
// leave markers to the files, the terminal and the socket.
template <class View>
bool offerPageMarkers(View& live, MarkerInbox& inbox) {
  auto post = [&inbox](std::string_view text, std::chrono::steady_clock::time_point received) {
    MarkerReply reply = inbox.offer(text, received);
    return std::pair<bool, std::string>(reply.accepted, std::move(reply.line));
  };
  if constexpr (requires(View & view) { view.acceptMarkers(post); }) {
    live.acceptMarkers(std::move(post));
    return true;
  } else {
    return false;
  }
}

template <class Tap>
void showMarker(Tap& tap, const Annotation& marker) {
  if constexpr (requires(Tap & view) { view.mark(marker.onsetSeconds, marker.text); }) {
    tap.mark(marker.onsetSeconds, marker.text);
  }
}

}  // namespace

bool acceptPageMarkers(LiveView& live, MarkerInbox& inbox) { return offerPageMarkers(live, inbox); }

void LiveTapSink::mark(const Annotation& marker) { showMarker(tap_, marker); }

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
