#include "live/view_exchange.h"

namespace bvhost {

bool ViewExchange::offer(ViewBatch& batch, std::uint64_t droppedBefore) {
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) {
    return false;
  }
  dropped_ += droppedBefore;
  queuedFrames_ += batch.frames();
  batches_.push_back(std::move(batch));
  while (queuedFrames_ > kMaxQueuedFrames && batches_.size() > 1) {
    queuedFrames_ -= batches_.front().frames();
    dropped_ += batches_.front().frames();
    batches_.erase(batches_.begin());
  }
  return true;
}

bool ViewExchange::offerStatus(ViewStatus& status) {
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) {
    return false;
  }
  status_ = std::move(status);
  return true;
}

bool ViewExchange::offerMarkers(std::vector<ViewMarker>& markers, std::uint64_t droppedBefore) {
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) {
    return false;
  }
  droppedMarkers_ += droppedBefore;
  for (auto& marker : markers) {
    markers_.push_back(std::move(marker));
  }
  markers.clear();
  if (markers_.size() > kMaxQueuedMarkers) {
    const std::size_t excess = markers_.size() - kMaxQueuedMarkers;
    droppedMarkers_ += excess;
    markers_.erase(markers_.begin(), markers_.begin() + static_cast<std::ptrdiff_t>(excess));
  }
  return true;
}

ViewExchange::Taken ViewExchange::take() {
  Taken taken;
  std::lock_guard lock(mutex_);
  taken.batches.swap(batches_);
  queuedFrames_ = 0;
  taken.status.swap(status_);
  taken.markers.swap(markers_);
  return taken;
}

std::uint64_t ViewExchange::droppedFrames() {
  std::lock_guard lock(mutex_);
  return dropped_;
}

std::uint64_t ViewExchange::droppedMarkers() {
  std::lock_guard lock(mutex_);
  return droppedMarkers_;
}

}  // namespace bvhost
