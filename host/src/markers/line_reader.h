// Markers typed in bvhost's terminal, or piped to it one per line.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

#include "base/quiet_thread.h"
#include "markers/marker_inbox.h"
#include "markers/marker_lines.h"
#include "markers/marker_thread.h"

namespace bvhost {

class MarkerLineReader {
 public:
  // Called on the reader's thread with the reply to every line.
  using ReplyHandler = std::function<void(const MarkerReply&)>;

  // Reads lines from `fd` on a thread of its own and offers each to the
  // inbox, stamped with the time the read that completed it returned. The
  // descriptor stays the caller's: never closed, and never made
  // non-blocking, since a terminal's file description is shared with the
  // shell. While `fd` is a terminal whose foreground is another process
  // group (bvhost was put in the background) it is not read, since a read
  // would stop the whole of bvhost. Throws std::system_error when no
  // thread or pipe can be made.
  MarkerLineReader(int fd, MarkerInbox& inbox, ReplyHandler onReply = {},
                   std::size_t maxLineBytes = kMaxMarkerLine);
  // Stops, as stop() does.
  ~MarkerLineReader();
  MarkerLineReader(const MarkerLineReader&) = delete;
  MarkerLineReader& operator=(const MarkerLineReader&) = delete;

  // Returns once the thread has ended. A line not finished by then is not
  // offered. Idempotent.
  void stop();
  // The descriptor reached its end (or failed): no more lines come.
  bool ended() const { return ended_.load(std::memory_order_acquire); }

 private:
  void run();
  void offer(std::string_view line, MarkerClock::time_point received);

  int fd_;
  MarkerInbox& inbox_;
  ReplyHandler onReply_;
  MarkerLines lines_;
  WakePipe wake_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace bvhost
