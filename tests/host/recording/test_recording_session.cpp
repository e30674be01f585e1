// The recording core on its own: our plug-in on the simulator, driven with
// no command line and no file, into a sink that keeps what it is given.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/frame_period.h"
#include "base/frame_sink.h"
#include "markers/marker_client.h"
#include "markers/marker_socket.h"
#include "plugin/plugin_result.h"
#include "recording/recording_session.h"

using namespace bvhost;
using ::testing::HasSubstr;

namespace {

// Built beside this test, as the simulator it loads is beside it.
const std::string kPlugin =
    (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libkessra_plugin.so")
        .string();

// The simulator reads its settings when the plug-in connects.
class SimulatorSettings {
 public:
  SimulatorSettings(std::initializer_list<std::pair<const std::string, std::string>> settings)
      : settings_(settings) {
    for (const auto& [name, value] : settings_) {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  ~SimulatorSettings() {
    for (const auto& setting : settings_) {
      unsetenv(setting.first.c_str());
    }
  }

 private:
  std::map<std::string, std::string> settings_;
};

struct Block {
  std::size_t channel;
  std::uint64_t frame;
  std::uint64_t firstIndex;
  std::uint64_t count;
};

class KeepingSink : public FrameSink {
 public:
  void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
             const float* values, std::uint64_t count) override {
    if (failFrom && frame >= *failFrom) {
      throw std::runtime_error("the sink is full");
    }
    EXPECT_TRUE(values != nullptr || count == 0);
    blocks.push_back({channel, frame, firstIndex, count});
  }
  void skipFrames(std::uint64_t first, std::uint64_t count) override {
    skipped.emplace_back(first, count);
  }
  void annotate(const Annotation& annotation, bool begins) override {
    notes.emplace_back(annotation, begins);
  }

  std::optional<std::uint64_t> failFrom;
  std::vector<Block> blocks;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> skipped;
  std::vector<std::pair<Annotation, bool>> notes;
};

std::int32_t stateOf(const Plugin& plugin) {
  std::int32_t state = -1;
  EXPECT_TRUE(succeeded(plugin.api().bv_get_state(&state)));
  return state;
}

// Each channel has every frame below `frames` once, in order, with its
// samples and the plug-in's count of those before, but for the frames
// skipped, which never reached the plug-in either.
void expectEveryFrame(const KeepingSink& sink, const std::vector<ChannelInfo>& channels,
                      std::uint64_t frames) {
  const auto pastSkipped = [&sink](std::uint64_t frame) {
    for (const auto& [first, count] : sink.skipped) {
      frame += frame == first ? count : 0;
    }
    return frame;
  };
  for (std::size_t c = 0; c < channels.size(); ++c) {
    std::uint64_t next = 0;
    std::uint64_t samples = 0;
    for (const Block& block : sink.blocks) {
      if (block.channel != c) {
        continue;
      }
      next = pastSkipped(next);
      ASSERT_EQ(block.frame, next) << shortLabel(channels[c]);
      EXPECT_EQ(block.count, channels[c].samplesPerFrame) << shortLabel(channels[c]);
      EXPECT_EQ(block.firstIndex, samples);
      samples += block.count;
      ++next;
    }
    EXPECT_EQ(pastSkipped(next), frames) << shortLabel(channels[c]);
  }
}

// Connected with the default trigger options and streaming into `sink`.
void startInto(RecordingSession& session, KeepingSink* sink) {
  session.connect({});
  session.start();
  if (sink != nullptr) {
    session.addSink(*sink);
  }
}

}  // namespace

TEST(RecordingSession, AShortRunHandsTheSinkEveryFrameInOrderAndEndsDisconnected) {
  const SimulatorSettings simulator({{"ORVANE_SIM_SEED", "11"}, {"ORVANE_SIM_SENSORS", "2"}});
  const Plugin probe(kPlugin, true);  // the same library: its state, seen from outside
  RecordingSession session(kPlugin);
  session.connect({});
  ASSERT_EQ(session.sensors().size(), 2u);
  ASSERT_EQ(session.channels().size(), 14u);
  EXPECT_FALSE(session.info().pluginName.empty());
  KeepingSink sink;
  session.start();
  session.addSink(sink);
  std::uint64_t reads = 0;
  std::uint64_t passes = 0;
  StreamHooks hooks;
  hooks.afterRead = [&reads] { ++reads; };
  hooks.afterPass = [&passes](RecordingSession::Clock::time_point) { ++passes; };
  session.stream(1.0, hooks);  // 74.07 frames, so 75
  EXPECT_EQ(stateOf(probe), BV_STATE_STREAMING);
  const StreamEnd end = session.finish();
  EXPECT_FALSE(end.failure);
  EXPECT_TRUE(succeeded(end.stopped));
  EXPECT_EQ(stateOf(probe), BV_STATE_DISCONNECTED);
  EXPECT_GE(reads, 75u);
  EXPECT_EQ(passes, reads);
  EXPECT_EQ(session.frames().keptFrames(), 75u);
  EXPECT_TRUE(session.frames().stats().lostSpans().empty());
  EXPECT_TRUE(sink.skipped.empty());
  EXPECT_TRUE(sink.notes.empty());
  expectEveryFrame(sink, session.channels(), 75);
}

// The link to every sensor drops from the first second for a second.
TEST(RecordingSession, AnOutageReachesTheSinkAsAGapAtItsFrameWithOneNote) {
  const SimulatorSettings simulator(
      {{"ORVANE_SIM_SEED", "11"}, {"ORVANE_SIM_SENSORS", "1"}, {"ORVANE_SIM_OUTAGE", "74:74"}});
  RecordingSession session(kPlugin);
  KeepingSink sink;
  startInto(session, &sink);
  session.stream(3.0);  // 223 frames
  const StreamEnd end = session.finish();
  ASSERT_FALSE(end.failure);
  ASSERT_EQ(sink.skipped.size(), 1u);
  const auto [first, count] = sink.skipped.front();
  EXPECT_NEAR(static_cast<double>(first), 74.0, 3.0);
  EXPECT_NEAR(static_cast<double>(count), 74.0, 3.0);
  ASSERT_EQ(session.frames().stats().lostSpans().size(), 1u);
  EXPECT_EQ(session.frames().stats().lostSpans().front().firstFrame, first);
  EXPECT_EQ(session.frames().stats().lostSpans().front().frames, count);
  ASSERT_EQ(sink.notes.size(), 1u);
  const auto& [note, begins] = sink.notes.front();
  EXPECT_FALSE(begins);
  // A loaded machine may have been held up meanwhile, which the text adds.
  EXPECT_THAT(note.text, ::testing::StartsWith("frames lost"));
  EXPECT_DOUBLE_EQ(note.onsetSeconds, static_cast<double>(first) * kFramePeriodSeconds);
  EXPECT_DOUBLE_EQ(note.durationSeconds, static_cast<double>(count) * kFramePeriodSeconds);
  expectEveryFrame(sink, session.channels(), 223);
}

// A sink that throws, a stop asked for and a session dropped while it
// streams all leave the plug-in disconnected.
TEST(RecordingSession, EveryWayARunEndsLeavesThePluginDisconnected) {
  const SimulatorSettings simulator({{"ORVANE_SIM_SENSORS", "1"}});
  const Plugin probe(kPlugin, true);
  {
    RecordingSession session(kPlugin);
    KeepingSink sink;
    sink.failFrom = 20;
    startInto(session, &sink);
    session.stream(30.0);
    // The stream ended at the failure, not at its time.
    EXPECT_LT(session.frames().frames(), 40u);
    const StreamEnd end = session.finish();
    EXPECT_EQ(stateOf(probe), BV_STATE_DISCONNECTED);
    ASSERT_TRUE(end.failure);
    EXPECT_THROW(std::rethrow_exception(end.failure), std::runtime_error);
  }
  {
    RecordingSession session(kPlugin);
    startInto(session, nullptr);
    StreamHooks hooks;
    hooks.afterPass = [&session](RecordingSession::Clock::time_point) {
      if (session.frames().frames() >= 10) {
        session.requestStop();
      }
    };
    session.stream(0.0, hooks);
    EXPECT_FALSE(session.finish().failure);
    EXPECT_EQ(session.frames().framesLeftOut(), 0u);
    EXPECT_EQ(stateOf(probe), BV_STATE_DISCONNECTED);
  }
  {
    RecordingSession session(kPlugin);
    startInto(session, nullptr);
    EXPECT_EQ(stateOf(probe), BV_STATE_STREAMING);
  }
  EXPECT_EQ(stateOf(probe), BV_STATE_DISCONNECTED);
}

namespace {

// Markers and notes in the order a sink got them, with the highest frame
// it had been given by then.
struct TimeLineSink : KeepingSink {
  void mark(const Annotation& marker) override {
    order.push_back("mark " + marker.text);
    marks.emplace_back(marker, highestFrame);
  }
  void annotate(const Annotation& annotation, bool begins) override {
    KeepingSink::annotate(annotation, begins);
    order.push_back("note " + annotation.text);
  }
  void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
             const float* values, std::uint64_t count) override {
    KeepingSink::write(channel, frame, firstIndex, values, count);
    highestFrame = std::max<std::int64_t>(highestFrame, static_cast<std::int64_t>(frame));
  }

  std::int64_t highestFrame = -1;
  std::vector<std::pair<Annotation, std::int64_t>> marks;
  std::vector<std::string> order;
};

// When the simulator began the capture, from the log it keeps when asked:
// frame k was captured from k periods after it.
RecordingSession::Clock::time_point simulatorStart(const std::string& log) {
  std::ifstream lines(log);
  std::string word;
  long long nanoseconds = 0;
  lines >> word >> nanoseconds;
  EXPECT_EQ(word, "start") << log;
  return RecordingSession::Clock::time_point(std::chrono::nanoseconds(nanoseconds));
}

std::string scratchFile(const std::string& name) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("bvhost-session-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::remove(path);
  return path.string();
}

// Markers stamped half-way through the capture of given frames, offered
// once that moment has passed, as a sender at that moment would have.
class MarkersAtFrames {
 public:
  MarkersAtFrames(MarkerInbox& inbox, std::vector<std::uint64_t> frames)
      : inbox_(inbox), frames_(std::move(frames)) {}

  void offerDue(RecordingSession::Clock::time_point start) {
    const auto now = RecordingSession::Clock::now();
    while (next_ < frames_.size()) {
      const auto when = start + std::chrono::duration_cast<RecordingSession::Clock::duration>(
                                    (static_cast<double>(frames_[next_]) + 0.5) * kFramePeriod);
      if (when > now) {
        return;
      }
      EXPECT_TRUE(inbox_.offer("frame " + std::to_string(frames_[next_]), when).accepted);
      ++next_;
    }
  }

 private:
  MarkerInbox& inbox_;
  std::vector<std::uint64_t> frames_;
  std::size_t next_ = 0;
};

}  // namespace

// A marker received while frame k was being captured lands on frame k, an
// instant, once frame k has reached the sink; none is taken before the
// stream starts or after it ends, and the socket says so to its sender.
TEST(RecordingSession, AMarkerLandsOnTheFrameCapturedWhenItCame) {
  const std::string log = scratchFile("start.log");
  const std::string runtime = scratchFile("runtime");
  std::filesystem::create_directories(runtime);
  const SimulatorSettings simulator(
      {{"ORVANE_SIM_SENSORS", "1"}, {"ORVANE_SIM_START_LOG", log}, {"XDG_RUNTIME_DIR", runtime}});
  MarkerInbox inbox(64, InboxStart::kWhenOpened);
  MarkerSocketOptions named;
  named.runName = "session";
  MarkerSocketServer socket(inbox, named);
  std::ostringstream out;
  std::ostringstream err;
  RecordingSession session(kPlugin);
  session.attachMarkers(inbox);
  EXPECT_EQ(sendMarker("too soon", {}, out, err), kMarkRefused);
  EXPECT_THAT(err.str(), HasSubstr("refused: the recording has not started yet"));
  TimeLineSink sink;
  session.connect({});
  session.start();
  session.addSink(sink);
  const auto start = simulatorStart(log);
  MarkersAtFrames markers(inbox, {40, 70, 71, 100});
  StreamHooks hooks;
  hooks.afterPass = [&](RecordingSession::Clock::time_point) { markers.offerDue(start); };
  session.stream(1.6, hooks);  // 119 frames
  err.str("");
  EXPECT_EQ(sendMarker("too late", {}, out, err), kMarkRefused);
  EXPECT_THAT(err.str(), HasSubstr("refused: the recording has stopped"));
  ASSERT_FALSE(session.finish().failure);

  ASSERT_EQ(sink.marks.size(), 4u);
  std::size_t i = 0;
  for (const std::uint64_t frame : {40, 70, 71, 100}) {
    const auto& [marker, reached] = sink.marks[i++];
    EXPECT_EQ(marker.text, "frame " + std::to_string(frame));
    EXPECT_EQ(static_cast<std::uint64_t>(marker.onsetSeconds / kFramePeriodSeconds), frame)
        << marker.onsetSeconds;
    EXPECT_LT(marker.durationSeconds, 0.0);
    EXPECT_GE(reached, static_cast<std::int64_t>(frame)) << "came before its frame";
  }
  EXPECT_EQ(session.frames().markers(), 4u);
  const MarkerCounts counts = inbox.counts();
  EXPECT_EQ(counts.accepted, 4u);
  EXPECT_EQ(counts.refusedEarly, 1u);
  EXPECT_EQ(counts.refusedClosed, 1u);
  std::filesystem::remove(log);
  std::filesystem::remove_all(runtime);
}

// A marker sent while the link was down lands where it was sent, after the
// note of the frames lost around it, which the sink gets first.
TEST(RecordingSession, AMarkerInAnOutageComesAfterTheNoteOfTheFramesLost) {
  const std::string log = scratchFile("outage.log");
  const SimulatorSettings simulator(
      {{"ORVANE_SIM_SENSORS", "1"}, {"ORVANE_SIM_OUTAGE", "150:74"}, {"ORVANE_SIM_START_LOG", log}});
  MarkerInbox inbox;
  RecordingSession session(kPlugin);
  session.attachMarkers(inbox);
  TimeLineSink sink;
  startInto(session, &sink);
  const auto start = simulatorStart(log);
  MarkersAtFrames markers(inbox, {100, 180});
  StreamHooks hooks;
  hooks.afterPass = [&](RecordingSession::Clock::time_point) { markers.offerDue(start); };
  session.stream(3.5, hooks);
  ASSERT_FALSE(session.finish().failure);
  ASSERT_EQ(sink.marks.size(), 2u);
  EXPECT_EQ(static_cast<std::uint64_t>(sink.marks[1].first.onsetSeconds / kFramePeriodSeconds),
            180u);
  ASSERT_EQ(sink.notes.size(), 1u);
  EXPECT_THAT(sink.notes.front().first.text, ::testing::StartsWith("frames lost"));
  EXPECT_THAT(sink.order,
              ::testing::ElementsAre("mark frame 100", "note " + sink.notes.front().first.text,
                                     "mark frame 180"));
  std::filesystem::remove(log);
}
