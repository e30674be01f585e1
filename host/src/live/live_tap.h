// The recording thread's side of the live view: it gathers each read's
// blocks into view columns and offers them, the status now and then, and
// the markers the recording placed, without ever waiting on the view.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "live/view_exchange.h"
#include "live/view_frames.h"

namespace bvhost {

class LiveTap {
 public:
  // Markers the view could not take yet wait here, this many at most; past
  // that the oldest go, counted as dropped.
  static constexpr std::size_t kMaxPendingMarkers = 64;

  LiveTap(std::size_t channels, ViewExchange& exchange)
      : decimator_(channels), exchange_(exchange) {
    pendingMarkers_.reserve(kMaxPendingMarkers);
  }

  void add(std::size_t channel, std::uint64_t frame, const float* values, std::uint64_t count) {
    decimator_.add(channel, frame, values, count);
  }
  // After a read. What the view could not take now waits for the next read,
  // in the decimator, bounded.
  void afterRead();
  // About four times a second; a status the view is busy for is skipped.
  bool statusDue(std::chrono::steady_clock::time_point now) const { return now >= nextStatus_; }
  void offerStatus(ViewStatus status, std::chrono::steady_clock::time_point now);
  // A marker the recording accepted, at its place on the stream's time line
  // (seconds since bv_start_streaming was called). Offered at once; when the
  // view is busy, again after each read.
  void mark(double onsetSeconds, std::string text);

 private:
  void offerMarkers();

  ViewDecimator decimator_;
  ViewBatch pending_;
  ViewExchange& exchange_;
  std::uint64_t reportedDrops_ = 0;
  std::chrono::steady_clock::time_point nextStatus_{};
  std::vector<ViewMarker> pendingMarkers_;
  std::uint64_t droppedMarkers_ = 0;
};

}  // namespace bvhost
