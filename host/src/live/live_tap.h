// The recording thread's side of the live view: it gathers each read's
// blocks into view columns and offers them, and the status now and then,
// without ever waiting on the view.
#pragma once

#include <chrono>
#include <cstdint>

#include "live/view_exchange.h"
#include "live/view_frames.h"

namespace bvhost {

class LiveTap {
 public:
  LiveTap(std::size_t channels, ViewExchange& exchange)
      : decimator_(channels), exchange_(exchange) {}

  void add(std::size_t channel, std::uint64_t frame, const float* values, std::uint64_t count) {
    decimator_.add(channel, frame, values, count);
  }
  // After a read. What the view could not take now waits for the next read,
  // in the decimator, bounded.
  void afterRead();
  // About four times a second; a status the view is busy for is skipped.
  bool statusDue(std::chrono::steady_clock::time_point now) const { return now >= nextStatus_; }
  void offerStatus(ViewStatus status, std::chrono::steady_clock::time_point now);

 private:
  ViewDecimator decimator_;
  ViewBatch pending_;
  ViewExchange& exchange_;
  std::uint64_t reportedDrops_ = 0;
  std::chrono::steady_clock::time_point nextStatus_{};
};

}  // namespace bvhost
