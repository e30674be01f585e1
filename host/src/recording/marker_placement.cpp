#include "recording/marker_placement.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace bvhost {

void MarkerPlacement::add(std::vector<Marker>& taken) {
  if (taken.empty()) {
    return;
  }
  const std::size_t before = waiting_.size();
  for (Marker& marker : taken) {
    waiting_.push_back(std::move(marker));
  }
  taken.clear();
  const auto byReceipt = [](const Marker& a, const Marker& b) { return a.received < b.received; };
  // Nearly always in order already, which costs a pass to find.
  if (!std::is_sorted(waiting_.begin() + static_cast<std::ptrdiff_t>(before), waiting_.end(),
                      byReceipt) ||
      (before > 0 && byReceipt(waiting_[before], waiting_[before - 1]))) {
    std::stable_sort(waiting_.begin(), waiting_.end(), byReceipt);
  }
}

double MarkerPlacement::onsetOf(Clock::time_point received, double lagSeconds) const {
  const double seconds = std::chrono::duration<double>(received - streamStart_).count();
  return std::max(0.0, seconds - lagSeconds);
}

Annotation MarkerPlacement::annotationOf(const Marker& marker, double lagSeconds,
                                         double endSeconds) const {
  return {std::min(onsetOf(marker.received, lagSeconds), endSeconds), -1.0, marker.text, false};
}

std::vector<Annotation> MarkerPlacement::due(std::optional<double> lagSeconds,
                                             std::uint64_t lagSightings, double placedSeconds,
                                             Clock::time_point now) {
  std::vector<Annotation> ready;
  // Until the device's first frames have come, nothing says where it began.
  if (!lagSeconds || waiting_.empty()) {
    return ready;
  }
  const bool settled = lagSightings >= kLagSightings;
  std::size_t count = 0;
  while (count < waiting_.size() &&
         ((settled && onsetOf(waiting_[count].received, *lagSeconds) < placedSeconds) ||
          now - waiting_[count].received >= kLongestWait)) {
    ++count;
  }
  ready.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    ready.push_back(
        annotationOf(waiting_[i], *lagSeconds, std::numeric_limits<double>::infinity()));
  }
  waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(count));
  return ready;
}

std::vector<Annotation> MarkerPlacement::rest(double lagSeconds, double endSeconds) {
  std::vector<Annotation> ready;
  ready.reserve(waiting_.size());
  for (const Marker& marker : waiting_) {
    ready.push_back(annotationOf(marker, lagSeconds, endSeconds));
  }
  waiting_.clear();
  return ready;
}

}  // namespace bvhost
