#include "markers/marker_inbox.h"

#include <utility>

#include "base/annotation.h"
#include "markers/marker_text.h"

namespace bvhost {
namespace {

constexpr const char* kStopped = "refused: the recording has stopped";
constexpr const char* kNotStarted = "refused: the recording has not started yet";
constexpr const char* kNoRoom =
    "refused: the recording's file has no room for more markers yet; it gains room as the "
    "recording goes on";

std::string acceptedLine(const std::vector<std::string>& remarks) {
  std::string line = "ok";
  for (std::size_t i = 0; i < remarks.size(); ++i) {
    line += (i == 0 ? " " : "; ") + remarks[i];
  }
  return line;
}

}  // namespace

MarkerInbox::MarkerInbox(std::size_t capacity, InboxStart start)
    : capacity_(capacity), opened_(start == InboxStart::kOpen) {
  waiting_.reserve(capacity_);
  taken_.reserve(capacity_);
}

MarkerReply MarkerInbox::offer(std::string_view rawText, MarkerClock::time_point received) {
  if (closed()) {
    refusedClosed_.fetch_add(1, std::memory_order_relaxed);
    return {false, kStopped};
  }
  if (!opened()) {
    refusedEarly_.fetch_add(1, std::memory_order_relaxed);
    return {false, kNotStarted};
  }
  // Cleaned and allocated before the lock, so the lock is held for a move.
  MarkerText cleaned = cleanMarkerText(rawText);
  if (!cleaned.accepted()) {
    refusedText_.fetch_add(1, std::memory_order_relaxed);
    return {false, "refused: " + cleaned.refusal};
  }
  Marker marker{std::move(cleaned.text), received};
  {
    const std::lock_guard lock(mutex_);
    // Looked at again under the lock: close() takes what is waiting under
    // it, so a marker queued after that would never be taken.
    if (closed_.load(std::memory_order_relaxed)) {
      refusedClosed_.fetch_add(1, std::memory_order_relaxed);
      return {false, kStopped};
    }
    if (waiting_.size() >= capacity_) {
      refusedFull_.fetch_add(1, std::memory_order_relaxed);
      return {false, "refused: " + std::to_string(capacity_) +
                         " markers are waiting for the recording already"};
    }
    const auto bytes = static_cast<std::int64_t>(noteBytes(marker.text.size()));
    if (markerBytes_ + bytes > room_.load(std::memory_order_acquire)) {
      refusedNoRoom_.fetch_add(1, std::memory_order_relaxed);
      return {false, kNoRoom};
    }
    markerBytes_ += bytes;
    waiting_.push_back(std::move(marker));
    accepted_.fetch_add(1, std::memory_order_relaxed);
  }
  return {true, acceptedLine(cleaned.remarks)};
}

MarkerReply MarkerInbox::refuseLongLine(std::size_t maxLineBytes) {
  refusedText_.fetch_add(1, std::memory_order_relaxed);
  return {false, "refused: longer than " + std::to_string(maxLineBytes) + " bytes"};
}

std::vector<Marker>& MarkerInbox::take() {
  // The texts taken last time are freed here, outside the lock.
  taken_.clear();
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (lock.owns_lock()) {
    std::swap(taken_, waiting_);
  }
  return taken_;
}

void MarkerInbox::open() { opened_.store(true, std::memory_order_release); }

std::vector<Marker> MarkerInbox::close() {
  std::vector<Marker> left;
  {
    const std::lock_guard lock(mutex_);
    closed_.store(true, std::memory_order_release);
    left = std::move(waiting_);
    waiting_.clear();
  }
  return left;
}

MarkerCounts MarkerInbox::counts() const {
  return {accepted_.load(std::memory_order_relaxed),
          refusedText_.load(std::memory_order_relaxed),
          refusedFull_.load(std::memory_order_relaxed),
          refusedClosed_.load(std::memory_order_relaxed),
          refusedEarly_.load(std::memory_order_relaxed),
          refusedNoRoom_.load(std::memory_order_relaxed)};
}

}  // namespace bvhost
