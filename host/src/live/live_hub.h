// Turns what the recording hands over into the page's events, keeps the
// last seconds of them for a page that connects (or reconnects) late, and
// lets each page's connection wait for the next ones. It runs on a thread
// of its own; the recording thread never calls it, and a connection that
// stalls holds nothing of it but its own place in the history.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "live/view_events.h"
#include "live/view_exchange.h"

namespace bvhost {

class LiveHub {
 public:
  // Frames of history a page gets when it connects: the traces it draws.
  static constexpr std::size_t kHistoryFrames = 600;
  // Markers a page gets when it connects, however long ago they came: the
  // page lists the recent ones.
  static constexpr std::size_t kHistoryMarkers = 32;

  // `markers`: the page offers its marker box.
  LiveHub(ViewExchange& exchange, const ViewSetup& setup, bool markers);
  ~LiveHub();
  LiveHub(const LiveHub&) = delete;
  LiveHub& operator=(const LiveHub&) = delete;

  // Once the recording is over: the last of the stream, then the final
  // status, after which every page's stream ends.
  void finish(ViewStatus last);

  struct Events {
    std::vector<std::shared_ptr<const std::string>> texts;
    std::uint64_t next = 0;  // the cursor for the following call
    bool finished = false;   // nothing more will come
  };
  // The events from `cursor` on (if those are gone, the recent markers
  // among them, then the oldest kept), waiting up to `wait` for one.
  Events after(std::uint64_t cursor, std::chrono::milliseconds wait);
  const std::string& info() const { return info_; }

 private:
  struct Entry {
    std::shared_ptr<const std::string> text;
    std::size_t frames;  // 0 for a status or a marker
  };

  void run();
  void pump();
  void append(std::string text, std::size_t frames, bool marker = false);
  void countFrames(const ViewBatch& batch);
  std::vector<double> frameRates();

  ViewExchange& exchange_;
  const std::string info_;
  // pump runs on the hub's thread, and once more from finish.
  std::mutex pumpMutex_;
  std::vector<std::size_t> sensorOfChannel_;
  const std::vector<bool> envelope_;
  // Per sensor, frames with data so far, and (time, totals) about a second
  // back, for the rate of frames arriving.
  std::vector<std::uint64_t> framesWithData_;
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::vector<std::uint64_t>>>
      rateHistory_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Entry> history_;
  // The latest markers with their places in the sequence, kept after they
  // leave history_, as statuses do, once they reach its front.
  std::deque<std::pair<std::uint64_t, std::shared_ptr<const std::string>>> recentMarkers_;
  std::uint64_t firstSeq_ = 0;
  std::size_t historyFrames_ = 0;
  bool finished_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace bvhost
