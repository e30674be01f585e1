// Frames lost before they reached the host, found from its clock, and put in
// place by the recording's one frame clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <deque>
#include <optional>

#include "base/annotation.h"
#include "base/frame_period.h"
#include "base/frame_sink.h"
#include "recording/frame_loss.h"
#include "recording/recording_frames.h"
#include "recording/recording_sink.h"

using namespace bvhost;
using ::testing::ElementsAre;
using ::testing::Field;

namespace {

constexpr double T = kFramePeriodSeconds;

// A device whose clock runs `ppm` fast, read at `phase` into every period:
// the frames it has delivered by host time `t`.
std::uint64_t delivered(double t, double ppm) {
  return static_cast<std::uint64_t>(std::floor(t * (1.0 + ppm * 1e-6) / T));
}

}  // namespace

// An hour with the device's clock 100 ppm off either way (36 frames in all)
// drifts slowly, read after every frame at a varying moment: never a loss.
TEST(FrameLossDetector, AnHourOfDriftIsNoLoss) {
  for (const double ppm : {-100.0, 100.0, -1000.0}) {
    SCOPED_TRACE(ppm);
    FrameLossDetector detector;
    std::uint64_t lost = 0;
    for (std::uint64_t k = 1; k < static_cast<std::uint64_t>(3600 / T); ++k) {
      const double t = (static_cast<double>(k) + 0.05 + 0.9 * std::fmod(k * 0.618, 1.0)) * T;
      lost += detector.check(t, delivered(t, ppm));
    }
    EXPECT_EQ(lost, 0u);
  }
}

// Frames that come a few at a time, or late after a hold-up the backlog
// covered, are no loss; a sudden shortfall is, counted to the frame.
TEST(FrameLossDetector, CountsASuddenShortfallButNotBurstsOrCatchingUp) {
  FrameLossDetector detector;
  std::uint64_t frames = 0;
  double t = 0.5 * T;
  for (int k = 0; k < 2000; ++k, t += T) {
    // Delivered in bursts of two: a read may come just before a burst.
    frames = (static_cast<std::uint64_t>(t / T) / 2) * 2;
    ASSERT_EQ(detector.check(t, frames), 0u) << k;
  }
  // A hold-up of 5 s, after which the whole backlog was read.
  t += 5.0;
  frames = static_cast<std::uint64_t>(t / T);
  EXPECT_EQ(detector.check(t, frames), 0u);
  // 148 frames never came.
  t += 3 * T;
  const std::uint64_t lost = detector.check(t, static_cast<std::uint64_t>(t / T) - 148);
  EXPECT_NEAR(static_cast<double>(lost), 148.0, 1.0);
  // Counted once: with the lost ones in the count, the next read is on time.
  t += T;
  EXPECT_EQ(detector.check(t, static_cast<std::uint64_t>(t / T) - 148 + lost), 0u);
}

namespace {

class NoteTaker : public FrameSink {
 public:
  struct Note {
    double onset;
    double duration;
    std::string text;
    bool begins;
  };
  void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex, const float*,
             std::uint64_t count) override {
    blocks.push_back({channel, frame, count, firstIndex});
  }
  void skipFrames(std::uint64_t first, std::uint64_t count) override {
    skipped.push_back({first, count});
  }
  void annotate(const Annotation& annotation, bool begins) override {
    notes.push_back({annotation.onsetSeconds, annotation.durationSeconds, annotation.text, begins});
  }

  struct Block {
    std::size_t channel;
    std::uint64_t frame;
    std::uint64_t count;
    std::uint64_t firstIndex;
  };
  std::vector<Block> blocks;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> skipped;
  std::vector<Note> notes;
};

const std::vector<ChannelInfo> kTwoSensors = {{0, "A", "EMG", 9, 2000.0, 27},
                                              {1, "B", "EMG", 9, 2000.0, 27}};

SampleBlock samples(std::uint64_t count) {
  static float values[27] = {};
  return {0, 1, count > 0 ? values : nullptr, count};
}

}  // namespace

// A file that keeps 100 bytes of notes a frame, of which a note of its own
// took 30.
class RoomySink : public NoteTaker {
 public:
  std::optional<std::size_t> noteRoomPerFrame() const override { return 100; }
  std::size_t ownNoteBytes() const override { return 30; }
};

// The room markers may take: the frames' room, a second ahead but never
// past the limit, less each note of the time line once, from when it
// begins, and less the sink's own notes; none where no sink limits notes.
TEST(RecordingFrames, MarkersHaveTheRoomTheFramesKeepLessEveryOtherNote) {
  NoteTaker unlimited;
  EXPECT_FALSE(RecordingFrames(kTwoSensors, {&unlimited}, 1000).noteRoom());

  RoomySink roomy;
  EXPECT_EQ(RecordingFrames(kTwoSensors, {&unlimited, &roomy}, 20).noteRoom(), 20 * 100 - 30);
  RecordingFrames frames(kTwoSensors, {&roomy, &unlimited}, 1000);
  const std::int64_t ahead = RecordingFrames::kNoteRoomAheadFrames;
  for (int frame = 0; frame < 3; ++frame) {
    frames.deliver(0, samples(27));
    frames.deliver(1, samples(frame == 0 ? 27 : 0));  // B falls silent at frame 1
  }
  const auto silence = static_cast<std::int64_t>(noteBytes(std::string("S2 no data").size()));
  EXPECT_EQ(frames.noteRoom(), (3 + ahead) * 100 - 30 - silence);
  frames.deliver(0, samples(27));
  frames.deliver(1, samples(27));  // the silence ends: no second charge
  EXPECT_EQ(frames.noteRoom(), (4 + ahead) * 100 - 30 - silence);
  frames.insertLost(2, false);
  const auto lost = static_cast<std::int64_t>(noteBytes(std::string("frames lost").size()));
  EXPECT_EQ(frames.noteRoom(), (6 + ahead) * 100 - 30 - silence - lost);
}

// Lost frames are one gap for every output at one place: the writers skip
// them, one annotation says so, the frames after keep their numbers, and a
// sensor's silence neither runs across them nor goes unjournalled.
TEST(RecordingFrames, LostFramesAreOneGapEverywhereAndSilencesBeginInTheJournal) {
  NoteTaker notes;
  RecordingFrames frames(kTwoSensors, {&notes}, 20);
  for (int frame = 0; frame < 3; ++frame) {
    frames.deliver(0, samples(27));
    frames.deliver(1, samples(frame == 0 ? 27 : 0));  // B falls silent at frame 1
  }
  ASSERT_EQ(notes.notes.size(), 1u);
  EXPECT_TRUE(notes.notes[0].begins);  // journalled as it begins
  EXPECT_NEAR(notes.notes[0].onset, T, 1e-9);
  frames.insertLost(10, false);
  frames.deliver(0, samples(27));
  frames.deliver(1, samples(0));
  EXPECT_THAT(notes.skipped, ElementsAre(std::pair<std::uint64_t, std::uint64_t>{3, 10}));
  EXPECT_EQ(notes.blocks.back().frame, 13u);
  frames.insertLost(100, true);  // past the limit of 20 frames: cut at it
  frames.finish();
  EXPECT_EQ(notes.skipped.back(), (std::pair<std::uint64_t, std::uint64_t>{14, 6}));
  std::vector<std::string> ended;
  for (const auto& note : notes.notes) {
    if (!note.begins) {
      ended.push_back(note.text + " " + std::to_string(std::lround(note.onset / T)) + "+" +
                      std::to_string(std::lround(note.duration / T)));
    }
  }
  EXPECT_THAT(ended, ElementsAre("S2 no data 1+2", "frames lost 3+10", "S2 no data 13+1",
                                 "frames lost, place uncertain 14+6"));
  EXPECT_EQ(frames.stats().lostFrames(), 16u);
  EXPECT_THAT(frames.stats().summary(20 * T, 20), ::testing::HasSubstr("Frames lost: 16 "));
}

namespace {

// A device as bv_read_samples shows it: frame k of one channel, 27 samples
// whose firstIndex tells the frame, handed over in reads the test scripts.
std::deque<std::uint64_t> waiting;  // frames the device holds, oldest first
std::uint64_t deviceFrames = 0;     // made so far

PluginResult readOne(SampleCallback callback) noexcept {
  if (!waiting.empty()) {
    static float values[27] = {};
    const SampleBlock block{waiting.front() * 27, 1, values, 27};
    waiting.pop_front();
    callback("A", "EMG", &block);
  }
  return PluginResult{0, nullptr};
}

// The device makes every frame due by `t`; it keeps at most `backlog`.
void makeFramesUntil(double t, std::size_t backlog) {
  while (static_cast<double>(deviceFrames + 1) * T <= t) {
    waiting.push_back(deviceFrames++);
    if (waiting.size() > backlog) {
      waiting.pop_front();
    }
  }
}

struct Outcome {
  std::vector<NoteTaker::Block> blocks;
  std::vector<LostSpan> lost;
};

// Reads as bvhost's loop does, with a hold-up of 3 s at 2 s, after which
// the backlog comes 4 frames a period, not at once.
Outcome holdUpThenSlowBacklog(std::size_t backlog) {
  const std::vector<ChannelInfo> channels = {{0, "A", "EMG", 9, 2000.0, 27}};
  waiting.clear();
  deviceFrames = 0;
  EntryPoints api{};
  api.bv_read_samples = &readOne;
  NoteTaker notes;
  RecordingFrames frames(channels, {&notes}, 1000);
  RecordingSink sink(channels, frames);
  double t = 1.0;
  makeFramesUntil(t, backlog);
  while (t < 8.0) {
    if (t > 2.0 && t < 5.0) {
      t = 5.0;  // held up: no read for 3 s
    }
    makeFramesUntil(t, backlog);
    // After the hold-up the link hands over at most a frame a quarter period.
    const bool slow = t >= 5.0 && t < 6.5;
    std::size_t delivered = 0;
    while (sink.read(api, t) > 0) {
      ++delivered;
      if (slow && delivered == 1) {
        break;
      }
    }
    if (delivered == 0 || !slow) {
      sink.caughtUp(t);
    }
    t += slow ? T / 4 : T;
    if (slow && delivered == 1) {
      sink.caughtUp(t);  // a read in between finds nothing yet
    }
  }
  sink.finish(true);
  frames.finish();
  return {notes.blocks, frames.stats().lostSpans()};
}

}  // namespace

// A backlog that comes in pieces after a hold-up, with reads that find
// nothing in between, is late, not lost: every frame stays in its place.
TEST(RecordingSink, ABacklogThatComesInPiecesIsNoLoss) {
  const Outcome run = holdUpThenSlowBacklog(1000);
  EXPECT_TRUE(run.lost.empty());
  ASSERT_GT(run.blocks.size(), 500u);
  for (const auto& block : run.blocks) {
    ASSERT_EQ(block.frame, block.firstIndex / 27);
  }
}

// The same with a backlog of 100 frames: the 122 it dropped are one gap,
// and every frame after sits within two of its true place.
TEST(RecordingSink, FramesTheBacklogDroppedAreAGapBeforeTheOnesItKept) {
  const Outcome run = holdUpThenSlowBacklog(100);
  ASSERT_EQ(run.lost.size(), 1u);
  EXPECT_NEAR(static_cast<double>(run.lost[0].frames), 122.0, 2.0);
  EXPECT_TRUE(run.lost[0].placeUncertain);
  for (const auto& block : run.blocks) {
    ASSERT_LE(std::llabs(static_cast<long long>(block.frame) -
                         static_cast<long long>(block.firstIndex / 27)),
              2);
  }
}
