#include "recording/recording_sink.h"

#include <algorithm>

#include "plugin/plugin_result.h"

namespace bvhost {

RecordingSink::RecordingSink(const std::vector<ChannelInfo>& channels, RecordingFrames& frames)
    : router_(channels), frames_(frames) {}

void RecordingSink::onBlock(const char* component, const char* channel, const SampleBlock& block) {
  ++blocks_;
  const auto index = router_.route(component, channel);
  if (!index) {
    frames_.stats().noteUnknownBlock(component, channel);
    return;
  }
  if (passing_) {
    frames_.deliver(*index, block);
    return;
  }
  const bool hasValues = block.values != nullptr;
  held_.push_back({*index, block.firstIndex, block.count, heldValues_.size(), hasValues});
  if (hasValues) {
    heldValues_.insert(heldValues_.end(), block.values, block.values + block.count);
  }
}

std::uint64_t RecordingSink::read(const EntryPoints& api, double elapsedSeconds) {
  if (lastReadSeconds_ >= 0.0 && elapsedSeconds - lastReadSeconds_ > kLongestSteadyPauseSeconds) {
    heldUp_ = true;
  }
  lastReadSeconds_ = elapsedSeconds;
  passing_ = held_.empty() && loss_.onTime(elapsedSeconds, frames());
  const std::uint64_t before = blocks_;
  router_.beginRead();
  const PluginResult result = readSamples(api, *this);
  if (passing_) {
    passedFrames_ = router_.frames();
    passing_ = false;
  }
  if (!succeeded(result)) {
    throw Refused("bv_read_samples", result);
  }
  if (heldFrames() > kMaxHeldFrames) {
    passHeld();
    heldUp_ = true;
  }
  return blocks_ - before;
}

void RecordingSink::caughtUp(double elapsedSeconds) {
  lastCaughtUpSeconds_ = elapsedSeconds;
  // While nothing comes, frames may yet arrive late rather than be lost;
  // the shortfall is judged once frames flow again, or at the end.
  if (frames() == judgedFrames_ || (!held_.empty() && !settled(elapsedSeconds))) {
    return;
  }
  judge(elapsedSeconds, FrameLossDetector::kToleranceFrames);
}

bool RecordingSink::settled(double elapsedSeconds) {
  const double lag = elapsedSeconds / kFramePeriodSeconds - static_cast<double>(frames());
  if (!settlingLag_ || lag < *settlingLag_ - 0.5) {
    settlingLag_ = lag;
    settlingSince_ = elapsedSeconds;
    return false;
  }
  return elapsedSeconds - settlingSince_ >= kSettleSeconds;
}

void RecordingSink::finish(bool judgeLoss) {
  if (judgeLoss && lastCaughtUpSeconds_) {
    judge(*lastCaughtUpSeconds_, kTrailingToleranceFrames);
  } else {
    passHeld();
  }
}

double RecordingSink::expectedLagSeconds() const {
  return std::max(0.0, loss_.baseline().value_or(0.0)) * kFramePeriodSeconds;
}

void RecordingSink::judge(double elapsedSeconds, double toleranceFrames) {
  ++lagChecks_;
  if (const std::uint64_t lost = loss_.check(elapsedSeconds, frames(), toleranceFrames); lost > 0) {
    frames_.insertLost(lost, heldUp_);
  }
  passHeld();
  heldUp_ = false;
  settlingLag_.reset();
  judgedFrames_ = frames();
}

void RecordingSink::passHeld() {
  // Taken out first: should an output throw half-way, no block is passed on
  // twice by a later call.
  std::vector<HeldBlock> blocks;
  std::vector<float> values;
  blocks.swap(held_);
  values.swap(heldValues_);
  passedFrames_ = router_.frames();
  for (const HeldBlock& held : blocks) {
    const SampleBlock block{held.firstIndex, 1,
                            held.hasValues ? values.data() + held.valuesAt : nullptr, held.count};
    frames_.deliver(held.channel, block);
  }
  // Their storage serves the next hold.
  blocks.clear();
  values.clear();
  held_.swap(blocks);
  heldValues_.swap(values);
}

}  // namespace bvhost
