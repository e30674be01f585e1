// The live view's copy of the stream, from blocks to the page's events.
#include <gtest/gtest.h>

#include <cmath>

#include "live/view_events.h"
#include "live/view_exchange.h"
#include "live/view_frames.h"

namespace {

using bvhost::ViewBatch;
using bvhost::ViewDecimator;

TEST(ViewDecimator, KeepsEachFramesExtremesAndEnergyAndMarksWhatNeverCame) {
  ViewDecimator decimator(2);
  const float emg[] = {0.5f, -1.5f, 1.0f};
  decimator.add(0, 3, emg, 3);
  decimator.add(1, 3, nullptr, 0);  // a frame of the second channel with nothing in it
  const float late[] = {2.0f};
  decimator.add(0, 4, late, 1);
  const ViewBatch batch = decimator.take();
  ASSERT_EQ(batch.firstFrame, 3u);
  ASSERT_EQ(batch.frames(), 2u);
  EXPECT_EQ(batch.at(0, 0).min, -1.5f);
  EXPECT_EQ(batch.at(0, 0).max, 1.0f);
  EXPECT_FLOAT_EQ(batch.at(0, 0).sumSquares, 0.25f + 2.25f + 1.0f);
  EXPECT_EQ(batch.at(0, 1).count, 0u);
  EXPECT_EQ(batch.at(1, 1).count, 0u);  // never delivered for frame 4 either

  // A block for a frame already handed over is left out, not misplaced.
  decimator.add(1, 4, late, 1);
  EXPECT_TRUE(decimator.empty());
  decimator.add(1, 5, late, 1);
  EXPECT_EQ(decimator.take().firstFrame, 5u);
}

TEST(ViewDecimator, DropsOldFramesRatherThanGrowWhenNobodyTakesThem) {
  ViewDecimator decimator(1);
  const float value = 1.0f;
  const std::uint64_t frames = 3 * ViewDecimator::kMaxFrames;
  for (std::uint64_t frame = 0; frame < frames; ++frame) {
    decimator.add(0, frame, &value, 1);
  }
  const ViewBatch batch = decimator.take();
  EXPECT_LE(batch.frames(), ViewDecimator::kMaxFrames);
  EXPECT_EQ(batch.firstFrame + batch.frames(), frames);
  EXPECT_EQ(decimator.droppedFrames() + batch.frames(), frames);
}

TEST(ViewExchange, NeverWaitsAndDropsTheOldestWhenTheViewFallsBehind) {
  bvhost::ViewExchange exchange;
  ViewDecimator decimator(1);
  const float value = 1.0f;
  const std::uint64_t frames = bvhost::ViewExchange::kMaxQueuedFrames + 100;
  for (std::uint64_t frame = 0; frame < frames; ++frame) {
    decimator.add(0, frame, &value, 1);
    ViewBatch batch = decimator.take();
    ASSERT_TRUE(exchange.offer(batch));
  }
  const auto taken = exchange.take();
  EXPECT_EQ(taken.batches.back().firstFrame, frames - 1);
  EXPECT_EQ(exchange.droppedFrames() + taken.batches.size(), frames);
}

TEST(ViewEvents, AMissingFrameIsNullAndTextsAreEscaped) {
  ViewDecimator decimator(1);
  const float value = -2.0f;
  decimator.add(0, 7, &value, 1);
  decimator.add(0, 8, nullptr, 0);
  const ViewBatch batch = decimator.take();
  EXPECT_EQ(bvhost::framesEvent(batch, {true}),
            "event: frames\ndata: {\"first\":7,\"count\":2,\"channels\":[[-2,-2,2,null,null,null]]}"
            "\n\n");
  EXPECT_EQ(bvhost::framesEvent(batch, {false}),
            "event: frames\ndata: {\"first\":7,\"count\":2,\"channels\":[[-2,-2,null,null]]}\n\n");
  EXPECT_EQ(bvhost::jsonString("S\"1\\\n"), R"("S\"1\\\u000a")");
}

}  // namespace
