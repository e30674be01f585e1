#include "live/live_tap.h"

namespace bvhost {

void LiveTap::afterRead() {
  if (!pendingMarkers_.empty()) {
    offerMarkers();
  }
  if (pending_.columns.empty()) {
    if (decimator_.empty()) {
      return;
    }
    pending_ = decimator_.take();
  }
  const std::uint64_t dropped = decimator_.droppedFrames() - reportedDrops_;
  if (exchange_.offer(pending_, dropped)) {
    pending_ = ViewBatch{};
    reportedDrops_ += dropped;
  }
}

void LiveTap::offerStatus(ViewStatus status, std::chrono::steady_clock::time_point now) {
  exchange_.offerStatus(status);
  nextStatus_ = now + std::chrono::milliseconds(250);
}

void LiveTap::mark(double onsetSeconds, std::string text) {
  if (pendingMarkers_.size() == kMaxPendingMarkers) {
    pendingMarkers_.erase(pendingMarkers_.begin());
    ++droppedMarkers_;
  }
  pendingMarkers_.push_back(ViewMarker{onsetSeconds, std::move(text)});
  offerMarkers();
}

void LiveTap::offerMarkers() {
  if (exchange_.offerMarkers(pendingMarkers_, droppedMarkers_)) {
    droppedMarkers_ = 0;
  }
}

}  // namespace bvhost
