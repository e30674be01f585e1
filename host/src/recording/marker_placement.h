// Markers on the recording's time line. A marker carries the moment bvhost
// received it, on the host's steady clock; a frame carries its number in the
// stream. The frame clock joins the two: frame k was captured from k frame
// periods after the device began, and the device began the expected lag (the
// least delay between a frame falling due and bvhost reading it, which the
// lost-frame detector tracks) after the stream's start. A marker received
// while frame k was being captured therefore lands on frame k, within how
// late bvhost learnt of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/annotation.h"
#include "markers/marker_inbox.h"

namespace bvhost {

class MarkerPlacement {
 public:
  using Clock = std::chrono::steady_clock;

  // A marker waits until the frames around it have reached the sinks, so
  // that they get it in order with the frames and with any note of frames
  // lost before it; but no longer than this, so a run killed while the
  // device is quiet still has it in its journal.
  static constexpr Clock::duration kLongestWait = std::chrono::seconds(1);
  // The lag is trusted for placing markers once it has been seen this often
  // (a tenth of a second of frames): the first sightings, right after the
  // device's start, may put it up to a frame late.
  static constexpr std::uint64_t kLagSightings = 8;

  explicit MarkerPlacement(Clock::time_point streamStart) : streamStart_(streamStart) {}

  // Markers as the inbox hands them over; they are moved out of `taken`.
  void add(std::vector<Marker>& taken);
  bool empty() const { return waiting_.empty(); }
  std::size_t waiting() const { return waiting_.size(); }

  // Seconds into the stream: received less the stream's start and the
  // device's lag. A marker received after the stream started but before the
  // device captured its first frame lies at 0, where that frame begins.
  double onsetOf(Clock::time_point received, double lagSeconds) const;

  // The markers due now, as instants in onset order. Once the lag has been
  // seen kLagSightings times, those before `placedSeconds` (the end of the
  // frames the sinks have, lost ones included); once it has been seen at
  // all, those that have waited kLongestWait by `now`.
  std::vector<Annotation> due(std::optional<double> lagSeconds, std::uint64_t lagSightings,
                              double placedSeconds, Clock::time_point now);

  // At the end of a recording `endSeconds` long, every marker still waiting.
  // One received after the last frame was captured (the few milliseconds
  // between it and the stop) lies at the end: readers drop a note past the
  // end of the data.
  std::vector<Annotation> rest(double lagSeconds, double endSeconds);

 private:
  Annotation annotationOf(const Marker& marker, double lagSeconds, double endSeconds) const;

  Clock::time_point streamStart_;
  // In the order received: a terminal and the socket may hand over markers
  // a moment apart from the order they came in.
  std::vector<Marker> waiting_;
};

}  // namespace bvhost
