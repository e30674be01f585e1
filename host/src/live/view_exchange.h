// The one place the recording thread hands anything to the live view. The
// recording side only ever tries the lock: when the view holds it, or its
// queue is full, the view loses data and the recording loses nothing, not
// even time.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/silence_tracker.h"
#include "live/view_frames.h"

namespace bvhost {

// How the recording stands, as the view shows it.
struct ViewStatus {
  double elapsedSeconds = 0.0;  // since bv_start_streaming was called
  double targetSeconds = 0.0;   // 0 when the run lasts until it is stopped
  std::uint64_t frames = 0;     // frames kept
  bool writing = false;         // files are being written
  bool ended = false;
  // Why the run ended early, when it did: the message bvhost prints.
  std::string failure;
  // Per sensor: its latest silences, as the recording marks them in the
  // files, how many it had in all, and the onset of one still going on
  // (negative when none).
  std::vector<std::vector<Silence>> silences;
  std::vector<std::size_t> silenceCounts;
  std::vector<double> openSilenceOnset;
};

// A marker the recording accepted, where it placed it on the stream's time
// line.
struct ViewMarker {
  double onsetSeconds = 0.0;  // since bv_start_streaming was called
  std::string text;
};

class ViewExchange {
 public:
  // Frames queued beyond this (half a minute of stream) mean the view has
  // stopped taking them; the oldest go.
  static constexpr std::size_t kMaxQueuedFrames = 2048;
  // Markers come a few a minute; this many waiting means the view has
  // stopped taking them, and the oldest go.
  static constexpr std::size_t kMaxQueuedMarkers = 256;

  // Recording thread. Moves the batch in and returns true, or returns false
  // at once, leaving it with the caller, when the view holds the lock.
  // droppedBefore counts frames the recording side already let go.
  bool offer(ViewBatch& batch, std::uint64_t droppedBefore = 0);
  // Recording thread: the latest status replaces any not yet taken.
  bool offerStatus(ViewStatus& status);
  // Recording thread: moves the markers in and returns true, or returns
  // false at once, leaving them, when the view holds the lock.
  bool offerMarkers(std::vector<ViewMarker>& markers, std::uint64_t droppedBefore = 0);

  struct Taken {
    std::vector<ViewBatch> batches;
    std::optional<ViewStatus> status;
    std::vector<ViewMarker> markers;
  };
  // View thread: everything offered since the last call.
  Taken take();
  // Frames dropped because the view fell behind.
  std::uint64_t droppedFrames();
  // Markers dropped on the way to the view, on either side.
  std::uint64_t droppedMarkers();

 private:
  std::mutex mutex_;
  std::vector<ViewBatch> batches_;
  std::size_t queuedFrames_ = 0;
  std::optional<ViewStatus> status_;
  std::uint64_t dropped_ = 0;
  std::vector<ViewMarker> markers_;
  std::uint64_t droppedMarkers_ = 0;
};

}  // namespace bvhost
