// The texts of the live view's event stream (server-sent events carrying
// JSON), made from plain data so the page's whole input can be tested
// without a server or a browser.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/channel_info.h"
#include "live/view_exchange.h"
#include "live/view_frames.h"

namespace bvhost {

struct ViewSensor {
  std::string name;
  std::vector<std::pair<std::string, std::string>> properties;  // as the plug-in gives them
};

// What does not change during a run, sent first to every page.
struct ViewSetup {
  std::string plugin;                // name and version
  std::vector<std::string> outputs;  // empty: monitoring, nothing written
  std::vector<ViewSensor> sensors;
  std::vector<ChannelInfo> channels;
};

// "event: info": the plug-in, the files, each sensor with its channels, and
// whether the page may post markers.
std::string infoEvent(const ViewSetup& setup, bool markers);
// "event: frames": per channel, min and max of each frame, and the RMS for
// channels with an envelope, or nulls where nothing arrived.
std::string framesEvent(const ViewBatch& batch, const std::vector<bool>& envelope);

// The channels a page draws with an envelope: those of muscle voltage.
std::vector<bool> envelopeChannels(const std::vector<ChannelInfo>& channels);
// "event: status": elapsed and target time, writing or not, each sensor's
// frame rate and silences, and what the view itself dropped.
std::string statusEvent(const ViewStatus& status, const std::vector<double>& frameRates,
                        std::uint64_t droppedFrames, std::uint64_t droppedMarkers);
// "event: marker": a marker's onset on the stream's time line and its text.
std::string markerEvent(const ViewMarker& marker);

// A JSON string literal, quotes included.
std::string jsonString(std::string_view text);

}  // namespace bvhost
