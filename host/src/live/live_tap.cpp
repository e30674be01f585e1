#include "live_tap.h"

namespace bvhost {

void LiveTap::afterRead() {
  if (pending_.columns.empty()) {
    if (decimator_.empty()) {
      return;
    }
    pending_ = decimator_.take();
  }
  if (exchange_.offer(pending_)) {
    pending_ = ViewBatch{};
  }
}

void LiveTap::offerStatus(ViewStatus status, std::chrono::steady_clock::time_point now) {
  exchange_.offerStatus(status);
  nextStatus_ = now + std::chrono::milliseconds(250);
}

}  // namespace bvhost
