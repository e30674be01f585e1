#include "recording_sink.h"

#include "results.h"

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
  // While nothing comes, frames may yet arrive late rather than be lost;
  // the shortfall is judged once frames flow again, or at the end.
  if (frames() != judgedFrames_) {
    judge(elapsedSeconds);
  }
}

void RecordingSink::finish(std::optional<double> stoppedSeconds) {
  if (stoppedSeconds) {
    judge(*stoppedSeconds);
  } else {
    passHeld();
  }
}

void RecordingSink::judge(double elapsedSeconds) {
  if (const std::uint64_t lost = loss_.check(elapsedSeconds, frames()); lost > 0) {
    frames_.insertLost(lost, heldUp_);
  }
  passHeld();
  heldUp_ = false;
  judgedFrames_ = frames();
}

void RecordingSink::passHeld() {
  for (const HeldBlock& held : held_) {
    const SampleBlock block{held.firstIndex, 1,
                            held.hasValues ? heldValues_.data() + held.valuesAt : nullptr,
                            held.count};
    frames_.deliver(held.channel, block);
  }
  held_.clear();
  heldValues_.clear();
  passedFrames_ = router_.frames();
}

}  // namespace bvhost
