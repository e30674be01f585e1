#include "validate/stream_audit.h"

#include <algorithm>
#include <cmath>

#include "plugin/plugin_result.h"

namespace bvhost {

void StreamAudit::onBlock(const char* component, const char* channel, const SampleBlock& block) {
  ++callbacks_;
  expect(component != nullptr && channel != nullptr, "a callback got a null name");
  expect(!channels_.empty(), std::string("a callback for ") + component + " / " + channel +
                                 " although the configuration describes no channel");
  const ChannelInfo& expected = channels_[position_];
  expect(expected.component == component && expected.channel == channel,
         std::string("a callback for ") + component + " / " + channel + " came where " +
             expected.component + " / " + expected.channel +
             " was due: one callback per described channel per frame, in inventory order");
  const std::string label = expected.component + " / " + expected.channel;
  expect(block.kind == 1, label + ": block kind " + std::to_string(block.kind) + ", not 1");
  expect((block.count == 0) == (block.values == nullptr),
         label + ": count " + std::to_string(block.count) + " with values " +
             (block.values == nullptr ? "null" : "non-null"));
  expect(block.firstIndex == next_[position_],
         label + ": firstIndex " + std::to_string(block.firstIndex) + " where " +
             std::to_string(next_[position_]) + " was due" +
             (next_[position_] == 0 ? " (every stream counts a channel's samples from 0)"
                                    : " (a gap in the channel's stream)"));
  volatile float sink = 0.0f;
  for (std::uint64_t i = 0; i < block.count; ++i) {
    sink = block.values[i];
  }
  (void)sink;
  next_[position_] += block.count;
  if (++position_ == channels_.size()) {
    position_ = 0;
    ++frames_;
    if (onFrame) {
      onFrame();
    }
  }
}

std::uint64_t StreamAudit::read(const EntryPoints& api) {
  const std::uint64_t before = frames_;
  expectSuccess("bv_read_samples", readSamples(api, *this));
  expect(position_ == 0, "a read call ended part-way through a frame");
  return frames_ - before;
}

void StreamAudit::restart() {
  expect(position_ == 0, "a stream ended part-way through a frame");
  std::fill(next_.begin(), next_.end(), 0);
}

void StreamAudit::expectRates(double elapsedSeconds) const {
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const double expected = channels_[i].rate * elapsedSeconds;
    const double slack = 0.1 * expected + 3.0 * static_cast<double>(channels_[i].samplesPerFrame);
    const auto received = static_cast<double>(next_[i]);
    expect(std::fabs(received - expected) <= slack,
           channels_[i].component + " / " + channels_[i].channel + ": " + std::to_string(next_[i]) +
               " samples in " + std::to_string(elapsedSeconds) + " s of stream time, about " +
               std::to_string(std::lround(expected)) + " expected from its rate " +
               std::to_string(channels_[i].rate) + " Hz");
  }
}

}  // namespace bvhost
