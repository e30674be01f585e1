#include "base/silence_tracker.h"

#include "base/frame_period.h"

namespace bvhost {

std::optional<Silence> SilenceTracker::noteShortFrame(std::size_t sensor, std::uint64_t frame,
                                                      double missingFromSeconds) {
  const double onset = static_cast<double>(frame) * kFramePeriodSeconds + missingFromSeconds;
  std::optional<Open>& open = open_[sensor];
  // A silence runs on only if this frame lacks samples from its very start
  // and follows the last short frame straight away; samples in between end it.
  if (open && open->endFrame == frame && missingFromSeconds <= 0.0) {
    open->endFrame = frame + 1;
    return std::nullopt;
  }
  std::optional<Silence> closed = close(sensor);
  open = Open{onset, frame + 1};
  return closed;
}

std::optional<Silence> SilenceTracker::noteFullFrame(std::size_t sensor) { return close(sensor); }

std::optional<Silence> SilenceTracker::close(std::size_t sensor) {
  std::optional<Open>& open = open_[sensor];
  if (!open) {
    return std::nullopt;
  }
  const double end = static_cast<double>(open->endFrame) * kFramePeriodSeconds;
  const Silence silence{open->onsetSeconds, end - open->onsetSeconds};
  closed_[sensor].push_back(silence);
  open.reset();
  return silence;
}

std::vector<std::pair<std::size_t, Silence>> SilenceTracker::closeAll() {
  std::vector<std::pair<std::size_t, Silence>> closed;
  for (std::size_t sensor = 0; sensor < open_.size(); ++sensor) {
    if (auto silence = close(sensor)) {
      closed.emplace_back(sensor, *silence);
    }
  }
  return closed;
}

}  // namespace bvhost
