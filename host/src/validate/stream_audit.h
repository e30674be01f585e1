// Audits every sample callback against the channels the configuration
// describes, as it arrives: one callback per channel per frame, in inventory
// order, with the names the host was told about and a contiguous firstIndex.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "plugin/channel_layout.h"
#include "plugin/sample_dispatch.h"
#include "validate/check_support.h"

namespace bvhost {

class StreamAudit : public SampleHandler {
 public:
  explicit StreamAudit(std::vector<ChannelInfo> channels)
      : channels_(std::move(channels)), next_(channels_.size(), 0) {}

  void onBlock(const char* component, const char* channel, const SampleBlock& block) override;

  // Frames delivered by one read call; a call must end on a frame boundary.
  std::uint64_t read(const EntryPoints& api);

  // A new stream counts every channel's samples from 0 again.
  void restart();

  void expectRates(double elapsedSeconds) const;

  std::uint64_t callbacks() const { return callbacks_; }
  const std::vector<ChannelInfo>& channels() const { return channels_; }
  std::function<void()> onFrame;

 private:
  std::vector<ChannelInfo> channels_;
  std::vector<std::uint64_t> next_;
  std::size_t position_ = 0;
  std::uint64_t frames_ = 0;
  std::uint64_t callbacks_ = 0;
};

}  // namespace bvhost
