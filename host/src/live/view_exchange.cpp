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

ViewExchange::Taken ViewExchange::take() {
  Taken taken;
  std::lock_guard lock(mutex_);
  taken.batches.swap(batches_);
  queuedFrames_ = 0;
  taken.status.swap(status_);
  return taken;
}

std::uint64_t ViewExchange::droppedFrames() {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace bvhost
