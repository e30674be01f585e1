// The record assembler on made-up frames: every sample lands in its own
// frame's record, and gaps, a sensor's or lost frames', stay in place.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/frame_period.h"
#include "files/record_assembler.h"

using namespace bvhost;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr double T = kFramePeriodSeconds;

// S1 EMG (3 a frame), S2 EMG (3 a frame), S2 ACC (1 a frame).
RecordAssembler twoSensors() {
  return RecordAssembler({{0, 3, -100, 100}, {1, 3, -100, 100}, {1, 1, -100, 100}}, 2);
}

// Frame `base / 10`: each signal's block, values counting up from `base`.
void addFrame(RecordAssembler& assembler, const std::vector<std::uint64_t>& counts, float base) {
  const auto frame = static_cast<std::uint64_t>(base / 10);
  for (std::size_t s = 0; s < counts.size(); ++s) {
    std::vector<float> values(counts[s]);
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = base + static_cast<float>(s) + static_cast<float>(i) / 10.0f;
    }
    assembler.add(s, frame, values.data(), counts[s]);
  }
}

std::vector<double> record(const RecordAssembler& assembler, std::size_t r) {
  const auto& data = assembler.readyData();
  const auto begin = data.begin() + static_cast<std::ptrdiff_t>(r * assembler.recordSize());
  return {begin, begin + static_cast<std::ptrdiff_t>(assembler.recordSize())};
}

MATCHER_P3(AnnotationIs, onset, duration, text, "") {
  return std::abs(arg.onsetSeconds - onset) < 1e-9 &&
         std::abs(arg.durationSeconds - duration) < 1e-9 && arg.text == text;
}

}  // namespace

TEST(RecordAssembler, ADropoutStaysAGapInPlaceAndShiftsNothing) {
  RecordAssembler assembler = twoSensors();
  addFrame(assembler, {3, 3, 1}, 0);
  addFrame(assembler, {3, 0, 0}, 10);
  addFrame(assembler, {3, 0, 0}, 20);
  addFrame(assembler, {3, 3, 1}, 30);
  ASSERT_EQ(assembler.readyRecords(), 4u);
  EXPECT_THAT(record(assembler, 1), ElementsAre(10, 10.1f, 10.2f, 0, 0, 0, 0));
  // Sensor 2's samples after its silence sit in their own frame, not earlier.
  EXPECT_THAT(record(assembler, 3), ElementsAre(30, 30.1f, 30.2f, 31, 31.1f, 31.2f, 32));
  assembler.finish();
  EXPECT_EQ(assembler.counts(1).filled, 6u);
  // Silences are the recording's to annotate, once for every output.
  EXPECT_THAT(assembler.takeAnnotations(), IsEmpty());
}

// Frames lost upstream are written as gaps at once: nothing waits for them,
// and the frames after them land in their own records.
TEST(RecordAssembler, SkippedFramesAreGapsAndLaterFramesStayInPlace) {
  RecordAssembler assembler({{0, 3, -1e4, 1e4}, {1, 3, -1e4, 1e4}, {1, 1, -1e4, 1e4}}, 2);
  addFrame(assembler, {3, 3, 1}, 0);
  addFrame(assembler, {3, 3}, 10);  // frame 1 lacks the ACC when the loss is found
  assembler.skip(2, 100);
  EXPECT_EQ(assembler.readyRecords(), 102u);
  addFrame(assembler, {3, 3, 1}, 1020);
  EXPECT_EQ(assembler.readyRecords(), 103u);
  EXPECT_THAT(record(assembler, 1), ElementsAre(10, 10.1f, 10.2f, 11, 11.1f, 11.2f, 0));
  EXPECT_THAT(record(assembler, 50), ElementsAre(0, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(record(assembler, 102),
              ElementsAre(1020, 1020.1f, 1020.2f, 1021, 1021.1f, 1021.2f, 1022));
  // A block for a frame already written is counted, never written twice.
  const float late = 5;
  assembler.add(2, 1, &late, 1);
  EXPECT_EQ(assembler.counts(2).late, 1u);
  EXPECT_EQ(assembler.counts(2).filled, 101u);
}

TEST(RecordAssembler, SamplesBeyondTheSlotAreCountedAndAnnotatedOnce) {
  RecordAssembler assembler = twoSensors();
  addFrame(assembler, {5, 3, 1}, 0);
  addFrame(assembler, {4, 3, 2}, 10);
  addFrame(assembler, {3, 3, 1}, 20);
  EXPECT_THAT(record(assembler, 0), ElementsAre(0, 0.1f, 0.2f, 1, 1.1f, 1.2f, 2));
  assembler.finish();
  EXPECT_THAT(assembler.takeAnnotations(),
              ElementsAre(AnnotationIs(0.0, 2 * T, "S1 3 extra samples left out"),
                          AnnotationIs(T, T, "S2 1 extra samples left out")));
  EXPECT_EQ(assembler.counts(0).beyond, 3u);
  EXPECT_EQ(assembler.counts(0).kept, 9u);
}

TEST(RecordAssembler, AChannelWithoutCallbacksHoldsRecordsBackOnlyForASecond) {
  RecordAssembler assembler = twoSensors();
  const float values[3] = {1, 2, 3};
  const std::size_t frames = RecordAssembler::kMaxPendingRecords + 10;
  for (std::size_t frame = 0; frame < frames; ++frame) {
    assembler.add(0, frame, values, 3);
    assembler.add(1, frame, values, 3);  // signal 2 never called back
  }
  EXPECT_EQ(assembler.readyRecords(), frames - RecordAssembler::kMaxPendingRecords);
  // Its first block belongs to frame 0, already written: left out, counted.
  assembler.add(2, 0, values, 1);
  EXPECT_EQ(assembler.counts(2).late, 1u);
  assembler.finish();
  EXPECT_EQ(assembler.readyRecords(), frames);
  EXPECT_EQ(assembler.counts(2).filled, frames);
}

TEST(RecordAssembler, ValuesOutsideTheRangeAreClippedAndCounted) {
  RecordAssembler assembler({{0, 3, -1, 1}}, 1);
  const float values[3] = {5.0f, std::numeric_limits<float>::quiet_NaN(), -0.5f};
  assembler.add(0, 0, values, 3);
  EXPECT_THAT(record(assembler, 0), ElementsAre(1.0, RecordAssembler::kFillValue, -0.5));
  EXPECT_EQ(assembler.counts(0).clipped, 2u);
}
