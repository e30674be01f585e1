// Where markers from any thread wait for the recording thread. Markers are
// stamped with the time bvhost received them, so when the recording thread
// takes them changes nothing about where they fall; the recording thread
// therefore never waits for a marker, and a flood of them can only be
// refused, never slow a read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace bvhost {

using MarkerClock = std::chrono::steady_clock;

struct Marker {
  // Cleaned: valid UTF-8 that fits an annotation.
  std::string text;
  // When bvhost received it, taken before anything slow.
  MarkerClock::time_point received;
};

// The answer to whoever sent a marker, one line without its newline: "ok",
// "ok <remarks>" or "refused: <reason>".
struct MarkerReply {
  bool accepted = false;
  std::string line;
};

struct MarkerCounts {
  std::uint64_t accepted = 0;
  // The text could not be a marker (not UTF-8, empty, too long a line).
  std::uint64_t refusedText = 0;
  // The inbox was full: the recording thread had not taken them yet.
  std::uint64_t refusedFull = 0;
  std::uint64_t refusedClosed = 0;
  // Sent before the stream started, when no time in the recording is theirs.
  std::uint64_t refusedEarly = 0;
  // The recording's file had no room for more notes by then.
  std::uint64_t refusedNoRoom = 0;
};

// Whether an inbox takes markers from the start or only once opened.
enum class InboxStart { kOpen, kWhenOpened };

class MarkerInbox {
 public:
  static constexpr std::size_t kDefaultCapacity = 1024;
  static constexpr std::int64_t kUnlimitedRoom = INT64_MAX;

  explicit MarkerInbox(std::size_t capacity = kDefaultCapacity,
                       InboxStart start = InboxStart::kOpen);
  MarkerInbox(const MarkerInbox&) = delete;
  MarkerInbox& operator=(const MarkerInbox&) = delete;

  // Any thread: cleans the text (cleanMarkerText) and queues it, unless the
  // inbox is full or closed. The reply says which, with the cleaning's
  // remarks when accepted.
  MarkerReply offer(std::string_view rawText, MarkerClock::time_point received);

  // A line its receiver would not hold, past maxLineBytes: refused and
  // counted with the texts that could not be markers.
  MarkerReply refuseLongLine(std::size_t maxLineBytes);

  // The recording thread, once per read: the markers that were waiting, in
  // the order they were accepted, valid until the next take(). Never waits:
  // when a sender holds the inbox at that moment it gives none, and the
  // next take() gives them.
  std::vector<Marker>& take();

  // Any thread: from now on markers are taken. Until then, in an inbox made
  // kWhenOpened, each is refused with a reply that says the recording has
  // not started: a recording that serves its socket while it connects has
  // no time yet to put a marker at. Idempotent.
  void open();
  bool opened() const { return opened_.load(std::memory_order_acquire); }

  // The stop: from now on every marker is refused with a reply that says
  // the recording has stopped. Returns, in order, every marker accepted
  // before and not taken yet, so none that was answered "ok" is lost. Waits
  // only for a sender that is queueing one at this moment.
  std::vector<Marker> close();
  bool closed() const { return closed_.load(std::memory_order_acquire); }

  // Any thread: from now on the markers accepted, since the inbox was made,
  // may take `bytes` in all, as noteBytes counts their texts; one that
  // would take more is refused with a reply that says the recording has no
  // room for it yet. The recording raises it as its file gains room, so a
  // flood is refused rather than overflow the file. Unlimited until first
  // called.
  void limitRoom(std::int64_t bytes) { room_.store(bytes, std::memory_order_release); }

  // Any thread, at any time.
  MarkerCounts counts() const;
  std::size_t capacity() const { return capacity_; }

 private:
  const std::size_t capacity_;
  // Held by senders only to append and by take() only to swap, neither of
  // which allocates: both vectors keep the full capacity.
  std::mutex mutex_;
  std::vector<Marker> waiting_;
  std::vector<Marker> taken_;
  std::int64_t markerBytes_ = 0;  // under mutex_
  std::atomic<std::int64_t> room_{kUnlimitedRoom};
  std::atomic<bool> opened_;
  std::atomic<bool> closed_{false};
  std::atomic<std::uint64_t> accepted_{0};
  std::atomic<std::uint64_t> refusedText_{0};
  std::atomic<std::uint64_t> refusedFull_{0};
  std::atomic<std::uint64_t> refusedClosed_{0};
  std::atomic<std::uint64_t> refusedEarly_{0};
  std::atomic<std::uint64_t> refusedNoRoom_{0};
};

}  // namespace bvhost
