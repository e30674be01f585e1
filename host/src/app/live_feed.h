// What `bvhost record --live` and `bvhost monitor` tell the live view of a
// recording session: its setup once connected, its samples as they are
// framed, and its status now and then.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/frame_sink.h"
#include "files/output_paths.h"
#include "live/live_tap.h"
#include "live/live_view.h"
#include "live/view_events.h"
#include "markers/marker_inbox.h"
#include "recording/recording_session.h"

namespace bvhost {

// The plug-in and its sensors and channels, once connected, and the files
// being written.
ViewSetup viewSetup(const RecordingSession& session, const std::vector<OutputFile>& files);

// The status of a run `seconds` long (0: until stopped), from stream() on.
ViewStatus viewStatus(const RecordingSession& session, double seconds, bool writing);

// Markers typed into the page's marker box go into `inbox`, as those of the
// terminal and the socket do; before live.begin(). The view must end (end()
// or fail()) before the inbox goes.
void acceptPageMarkers(LiveView& live, MarkerInbox& inbox);

// The live view as a sink of the recording: it draws the samples as they
// come, and markers on the traces where the view can show them. A lost
// frame shows on the page by the frame numbers themselves, and silences by
// the status, so the view needs neither note.
class LiveTapSink : public FrameSink {
 public:
  explicit LiveTapSink(LiveTap& tap) : tap_(tap) {}

  void write(std::size_t channel, std::uint64_t frame, std::uint64_t, const float* values,
             std::uint64_t count) override {
    tap_.add(channel, frame, values, count);
  }
  void skipFrames(std::uint64_t, std::uint64_t) override {}
  void annotate(const Annotation&, bool) override {}
  void mark(const Annotation& marker) override;

 private:
  LiveTap& tap_;
};

}  // namespace bvhost
