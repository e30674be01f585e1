// Frames the check chose, through the interop stand-in: every channel gets
// one callback per frame, zero counts included, with the names the device
// gave, a firstIndex that restarts with each stream, and every sample value
// bit for bit.
#include <bit>
#include <cstdio>

#include "plugin/plugin_result.h"
#include "plugin/sample_dispatch.h"
#include "validate/checks.h"
#include "validate/device_script.h"
#include "validate/standin_control.h"

namespace bvhost {
namespace {

struct Block {
  std::string component;
  std::string channel;
  std::uint64_t firstIndex = 0;
  std::vector<std::uint32_t> bits;
  bool valuesNull = false;
};

std::string show(const Block& block) {
  std::string text = block.component + " / " + block.channel + ", firstIndex " +
                     std::to_string(block.firstIndex) + ", count " +
                     std::to_string(block.bits.size()) + (block.valuesNull ? ", values null" : "");
  for (std::size_t i = 0; i < block.bits.size(); ++i) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%s%08x", i == 0 ? ": " : " ", block.bits[i]);
    text += hex;
  }
  return text;
}

class BlockLog : public SampleHandler {
 public:
  void onBlock(const char* component, const char* channel, const SampleBlock& block) override {
    Block copy{component != nullptr ? component : "(null)",
               channel != nullptr ? channel : "(null)",
               block.firstIndex,
               {},
               block.values == nullptr};
    for (std::uint64_t i = 0; i < block.count && block.values != nullptr; ++i) {
      copy.bits.push_back(std::bit_cast<std::uint32_t>(block.values[i]));
    }
    blocks.push_back(std::move(copy));
  }
  std::vector<Block> blocks;
};

// Patterns a conversion would change: signalling and quiet NaNs, negative
// zero, a denormal, infinity.
constexpr std::uint32_t kAwkwardBits[] = {0x7f800001u, 0xffc00000u, 0x80000000u, 0x00000001u,
                                          0x7f800000u};

struct Plan {
  std::vector<standin::Frame> frames;
  std::vector<Block> expected;
};

// Frames with random counts (a zero in some channel of every frame, and one
// frame of zeros only) and random bits, and the blocks they must become.
Plan planFrames(CheckContext& context, const EntryPoints& api, const standin::Script& script,
                const SensorLayout& layout, std::size_t frameCount) {
  Plan plan;
  std::vector<std::uint64_t> next(layout.channelCount(), 0);
  auto& random = context.random();
  for (std::size_t f = 0; f < frameCount; ++f) {
    standin::Frame frame;
    std::size_t j = 0;
    for (std::size_t s = 0; s < layout.channelsPerSensor.size(); ++s) {
      for (std::int32_t c = 0; c < layout.channelsPerSensor[s]; ++c, ++j) {
        const bool empty = f == 2 || j == f % next.size();
        const auto count = static_cast<std::int32_t>(empty ? 0 : 1 + random() % 5);
        Block block{componentName(api, script, layout.key(s)),
                    answer(script, layout.identifier(s, static_cast<std::size_t>(c)), 0),
                    next[j],
                    {},
                    count == 0};
        for (std::int32_t i = 0; i < count; ++i) {
          const auto bits = random() % 4 == 0 ? kAwkwardBits[random() % std::size(kAwkwardBits)]
                                              : static_cast<std::uint32_t>(random());
          block.bits.push_back(bits);
          frame.samples.push_back(std::bit_cast<float>(bits));
        }
        frame.counts.push_back(count);
        next[j] += static_cast<std::uint64_t>(count);
        plan.expected.push_back(std::move(block));
      }
    }
    plan.frames.push_back(std::move(frame));
  }
  return plan;
}

bool same(const Block& a, const Block& b) {
  return a.component == b.component && a.channel == b.channel && a.firstIndex == b.firstIndex &&
         a.bits == b.bits && a.valuesNull == b.valuesNull;
}

void expectBlocks(const BlockLog& log, const std::vector<Block>& expected, std::size_t upTo,
                  const std::string& when) {
  for (std::size_t i = 0; i < upTo && i < log.blocks.size(); ++i) {
    expect(same(log.blocks[i], expected[i]), "callback " + std::to_string(i + 1) + " " + when +
                                                 ": expected " + show(expected[i]) + "; got " +
                                                 show(log.blocks[i]));
  }
  expect(log.blocks.size() == upTo, std::to_string(log.blocks.size()) + " callbacks " + when +
                                        "; expected " + std::to_string(upTo) +
                                        " (one per channel per frame, zero counts included)");
}

void stream(CheckContext& context, const EntryPoints& api, standin::Script& script,
            const SensorLayout& layout, std::size_t frameCount, const std::string& which) {
  Plan plan = planFrames(context, api, script, layout, frameCount);
  for (auto& frame : plan.frames) {
    script.frames.push_back(std::move(frame));
  }
  const std::size_t perFrame = layout.channelCount();
  BlockLog log;
  expectSuccess("bv_start_streaming", api.bv_start_streaming());
  for (std::size_t read = 1; read <= 2; ++read) {
    expectSuccess("bv_read_samples", readSamples(api, log));
    expectBlocks(log, plan.expected, read * perFrame,
                 "after read " + std::to_string(read) + " of the " + which +
                     " before any stop, with frames waiting");
  }
  expectSuccess("bv_stop_streaming", api.bv_stop_streaming());
  expectSuccess("bv_read_samples", readSamples(api, log));
  expectBlocks(log, plan.expected, plan.expected.size(), "after the read that drains the " + which);
  expectSuccess("bv_read_samples", readSamples(api, log));
  expectBlocks(log, plan.expected, plan.expected.size(), "after the drain of the " + which);
}

void deviceSamples(CheckContext& context) {
  standin::Script& script = useStandIn(context);
  const SensorLayout layout{{2, 1, 3}, {1926, 1926, 148, 1926, 148, 148}};
  describe(script, layout);
  const EntryPoints& api = context.api();
  connectThroughStandIn(api, script);
  stream(context, api, script, layout, 6, "first stream");
  stream(context, api, script, layout, 3, "second stream");
  expectSuccess("bv_disconnect", api.bv_disconnect());
}

}  // namespace

std::vector<Check> deviceSampleChecks() {
  return {
      {"device-samples",
       "frames from the interop stand-in reach the host channel by channel: one callback per "
       "channel per frame in list order, zero counts with null values, the device's names, "
       "firstIndex from 0 in each stream, every value bit for bit, one frame per read until a "
       "stop drains the backlog",
       &deviceSamples, 15},
  };
}

}  // namespace bvhost
