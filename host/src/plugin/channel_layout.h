// The channels a connected plug-in describes, flattened in inventory order,
// and the routing of each sample callback to one of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/channel_info.h"
#include "kessra_plugin.h"

namespace bvhost {

std::vector<ChannelInfo> channelLayout(const Configuration& config);

// The plug-in calls back once per channel per frame in inventory order, so
// the expected channel is the next one in the cycle; names are checked, and
// looked up only when the order is not the expected one.
class ChannelRouter {
 public:
  explicit ChannelRouter(const std::vector<ChannelInfo>& channels);

  // Each read call starts a frame afresh.
  void beginRead() { position_ = 0; }
  std::optional<std::size_t> route(const char* component, const char* channel);
  std::uint64_t frames() const { return frames_; }

 private:
  struct Names {
    std::size_t component;  // where in text_ the names start
    std::size_t channel;
    bool comparable;
  };

  const std::vector<ChannelInfo>& channels_;
  // Every name, one after the other in inventory order: a frame's checks
  // then read one run of memory rather than a string scattered per name.
  std::string text_;
  std::vector<Names> names_;
  std::size_t position_ = 0;
  std::uint64_t frames_ = 0;
};

}  // namespace bvhost
