// Frames in real time and what they carry.
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "simulator_session.h"

namespace sim_test {
namespace {

using std::chrono::milliseconds;

void expectInSequence(const std::vector<Frame>& frames, std::int64_t first = 0) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i].sequence, first + static_cast<std::int64_t>(i)) << "frame lost or repeated";
  }
}

double rms(const std::vector<float>& values) {
  double sum = 0;
  for (float v : values) {
    sum += static_cast<double>(v) * v;
  }
  return std::sqrt(sum / static_cast<double>(values.size()));
}

using Capture = SimulatorTest;

// Bounds from the test's own clock readings, which hold however loaded the
// machine is: a frame is never handed out before its time, and every frame
// whose time has come is there when polled.
TEST_F(Capture, FramesKeepToTheScheduleNoneEarlyNoneLost) {
  open();
  const auto beforeStart = Clock::now();
  orvane_start();
  const auto afterStart = Clock::now();

  std::vector<Frame> frames;
  while (Clock::now() - afterStart < milliseconds(400)) {
    if (auto frame = poll()) {
      const auto polled = Clock::now();
      EXPECT_LE(frame->sequence + 1, periodsIn(polled - beforeStart)) << "early frame";
      frames.push_back(std::move(*frame));
    } else {
      std::this_thread::sleep_for(milliseconds(2));
    }
  }
  // A host that falls behind still gets everything, in order.
  std::this_thread::sleep_for(milliseconds(300));
  const auto beforeLatePoll = Clock::now();
  for (auto& frame : drain()) {
    frames.push_back(std::move(frame));
  }
  const auto afterLatePoll = Clock::now();
  expectInSequence(frames);
  const auto polledLate = static_cast<std::int64_t>(frames.size());
  EXPECT_GE(polledLate, periodsIn(beforeLatePoll - afterStart));
  EXPECT_LE(polledLate, periodsIn(afterLatePoll - beforeStart));

  std::this_thread::sleep_for(milliseconds(100));
  const auto beforeStop = Clock::now();
  orvane_stop();
  const auto afterStop = Clock::now();
  std::this_thread::sleep_for(milliseconds(100));
  for (auto& frame : drain()) {
    frames.push_back(std::move(frame));
  }
  expectInSequence(frames);
  const auto total = static_cast<std::int64_t>(frames.size());
  EXPECT_GE(total, periodsIn(beforeStop - afterStart)) << "frames due before the stop lost";
  EXPECT_LE(total, periodsIn(afterStop - beforeStart)) << "frames after the stop";
  EXPECT_FALSE(poll());

  // About 74 frames per second of wall time; loose, the bounds above are exact.
  const double seconds = std::chrono::duration<double>(beforeStop - afterStart).count();
  EXPECT_NEAR(static_cast<double>(total) / seconds, 74.07, 8.0);
}

// The start log puts each capture's start on the host's steady clock, so a
// test outside the process can tell when every frame was captured: frame k
// falls due k + 1 periods after the start logged, and not before.
TEST_F(Capture, TheStartLogGivesEachCapturesStartOnTheSteadyClock) {
  const std::string log = ::testing::TempDir() + "/start.log." + std::to_string(::getpid());
  std::remove(log.c_str());
  setEnv("ORVANE_SIM_START_LOG", log);
  open();
  std::vector<Clock::time_point> before;
  std::vector<Clock::time_point> after;
  std::vector<std::int64_t> firstPolled;
  for (int capture = 0; capture < 2; ++capture) {
    before.push_back(Clock::now());
    orvane_start();
    after.push_back(Clock::now());
    std::optional<Frame> frame;
    while (!(frame = poll())) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    firstPolled.push_back(frame->sequence);
    const auto polled = Clock::now();
    orvane_stop();
    drain();
    std::ifstream lines(log);
    std::string word;
    long long nanoseconds = 0;
    for (int line = 0; line <= capture; ++line) {
      lines >> word >> nanoseconds;
    }
    ASSERT_EQ(word, "start");
    const Clock::time_point start{std::chrono::nanoseconds(nanoseconds)};
    EXPECT_GE(start, before.back());
    EXPECT_LE(start, after.back());
    EXPECT_LE(start + kFramePeriod * (frame->sequence + 1), polled);
  }
  EXPECT_EQ(firstPolled, (std::vector<std::int64_t>{0, 0}));
  std::remove(log.c_str());
}

TEST_F(Capture, EverySensorDeliversSamplesAtItsChannelRates) {
  for (const char* sensors : {"1", "16"}) {
    setEnv("ORVANE_SIM_SENSORS", sensors);
    const Opened opened = open();
    const auto frames = record(milliseconds(150));
    ASSERT_GE(frames.size(), 5u) << sensors;
    for (const Frame& frame : frames) {
      ASSERT_EQ(frame.counts.size(), opened.sampleRates.size());
      for (std::size_t c = 0; c < frame.counts.size(); ++c) {
        EXPECT_EQ(frame.counts[c], std::llround(opened.sampleRates[c] * 0.0135)) << "channel " << c;
      }
    }
    EXPECT_TRUE(std::all_of(frames.begin(), frames.end(), [](const Frame& frame) {
      return std::all_of(frame.samples.begin(), frame.samples.end(),
                         [](float v) { return std::isfinite(v); });
    }));
  }
}

std::vector<Frame> firstFrames(std::vector<Frame> frames, std::size_t count) {
  EXPECT_GE(frames.size(), count);
  frames.resize(std::min(count, frames.size()));
  return frames;
}

bool sameBits(const std::vector<Frame>& a, const std::vector<Frame>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].counts != b[i].counts || a[i].samples.size() != b[i].samples.size() ||
        std::memcmp(a[i].samples.data(), b[i].samples.data(),
                    a[i].samples.size() * sizeof(float)) != 0) {
      return false;
    }
  }
  return true;
}

// The samples depend on the seed alone, not on when or how often the host polls.
TEST_F(Capture, SameSeedGivesTheSameSamplesAnotherSeedOthers) {
  constexpr std::size_t kFrames = 12;
  setEnv("ORVANE_SIM_SEED", "7");
  open();
  orvane_start();
  std::vector<Frame> prompt;
  while (prompt.size() < kFrames) {
    if (auto frame = poll()) {
      prompt.push_back(std::move(*frame));
    } else {
      std::this_thread::sleep_for(milliseconds(1));
    }
  }
  orvane_close();

  open();
  const auto late = firstFrames(record(milliseconds(250)), kFrames);
  orvane_close();
  setEnv("ORVANE_SIM_SEED", "8");
  open();
  const auto other = firstFrames(record(milliseconds(250)), kFrames);

  EXPECT_TRUE(sameBits(prompt, late));
  EXPECT_FALSE(sameBits(prompt, other));
}

TEST_F(Capture, SignalsLookLikeAMuscleAtWork) {
  open();
  const auto frames = record(milliseconds(3600));
  ASSERT_GE(frames.size(), 200u);
  constexpr std::size_t kWindow = 8;  // about 0.1 s
  for (std::size_t sensor = 0; sensor < 4; ++sensor) {
    SCOPED_TRACE("sensor " + std::to_string(sensor + 1));
    const std::size_t emg = sensor * 7;
    std::vector<double> windows;
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t start = 0; start + kWindow <= frames.size(); start += kWindow) {
      std::vector<float> values;
      for (std::size_t f = start; f < start + kWindow; ++f) {
        const auto channel = frames[f].channel(emg);
        values.insert(values.end(), channel.begin(), channel.end());
        for (float v : channel) {
          sum += v;
          ++count;
        }
      }
      windows.push_back(rms(values));
    }
    const auto [rest, burst] = std::minmax_element(windows.begin(), windows.end());
    EXPECT_GT(*burst, 8.0 * *rest) << "no contraction envelope";
    // Millivolts: a contraction reaches tenths of a millivolt, rest stays in microvolts.
    EXPECT_GT(*burst, 0.1);
    EXPECT_LT(*burst, 3.0);
    EXPECT_LT(*rest, 0.05);
    // The spectrum falls to nothing at 0 Hz, so there is no offset to speak of.
    EXPECT_LT(std::abs(sum / static_cast<double>(count)), 0.1 * *burst);

    double minGravity = 10;
    double maxGravity = 0;
    float minGyro = 1e9f;
    float maxGyro = -1e9f;
    for (const Frame& frame : frames) {
      const auto x = frame.channel(emg + 1);
      const auto y = frame.channel(emg + 2);
      const auto z = frame.channel(emg + 3);
      const auto gyro = frame.channel(emg + 5);  // the contraction's own axis
      for (std::size_t i = 0; i < x.size(); ++i) {
        const double g = std::sqrt(x[i] * x[i] + y[i] * y[i] + z[i] * z[i]);
        minGravity = std::min(minGravity, g);
        maxGravity = std::max(maxGravity, g);
        minGyro = std::min(minGyro, gyro[i]);
        maxGyro = std::max(maxGyro, gyro[i]);
      }
    }
    EXPECT_GT(minGravity, 0.9);
    EXPECT_LT(maxGravity, 1.1);
    EXPECT_GT(maxGyro - minGyro, 20.0f) << "the limb never moves";
  }
}

// The settings reach the signals: with hum on, the recording differs from
// the same seed without by a sinusoid at the mains frequency and nothing else.
TEST_F(Capture, MainsSettingAddsHumAtItsFrequency) {
  const auto emgOf = [](const std::vector<Frame>& frames) {
    std::vector<float> emg;
    for (const Frame& frame : firstFrames(frames, 30)) {
      const auto values = frame.channel(0);
      emg.insert(emg.end(), values.begin(), values.end());
    }
    return emg;
  };
  open();
  const auto plain = emgOf(record(milliseconds(500)));
  orvane_close();
  setEnv("ORVANE_SIM_MAINS", "60");
  open();
  const auto humming = emgOf(record(milliseconds(500)));
  ASSERT_EQ(plain.size(), humming.size());

  std::vector<float> hum(plain.size());
  std::transform(humming.begin(), humming.end(), plain.begin(), hum.begin(), std::minus<>());
  EXPECT_NEAR(rms(hum), 0.1, 0.01) << "millivolts RMS";
  int crossings = 0;
  for (std::size_t i = 1; i < hum.size(); ++i) {
    crossings += (hum[i - 1] < 0) != (hum[i] < 0) ? 1 : 0;
  }
  const double seconds = static_cast<double>(hum.size()) / 1925.93;
  EXPECT_NEAR(crossings / seconds / 2.0, 60.0, 3.0) << "cycles per second";
}

TEST_F(Capture, DroppedOutSensorFallsSilentThenReturnsMidSignal) {
  setEnv("ORVANE_SIM_DROPOUT", "2:10:20");
  open();
  const auto withDropout = record(milliseconds(600));
  orvane_close();
  unsetenv("ORVANE_SIM_DROPOUT");
  open();
  const auto without = record(milliseconds(600));
  ASSERT_GE(withDropout.size(), 35u);
  ASSERT_GE(without.size(), 35u);

  for (std::size_t f = 0; f < 35; ++f) {
    const bool silent = f >= 10 && f < 30;
    for (std::size_t c = 0; c < 28; ++c) {
      const bool ofSensor2 = c >= 7 && c < 14;
      EXPECT_EQ(withDropout[f].counts[c], silent && ofSensor2 ? 0 : without[f].counts[c])
          << "frame " << f << " channel " << c;
    }
    // The others' samples sit where their counts say, unchanged by the gap.
    EXPECT_EQ(withDropout[f].channel(14), without[f].channel(14)) << "frame " << f;
    EXPECT_EQ(withDropout[f].channel(27), without[f].channel(27)) << "frame " << f;
  }
  // Sensor 2 comes back where its signal would be had it never been away.
  EXPECT_EQ(withDropout[30].channel(7), without[30].channel(7));
}

TEST_F(Capture, StopFromAnotherThreadWhilePolling) {
  open();
  std::atomic<bool> stopped = false;
  std::vector<Frame> frames;
  const auto beforeStart = Clock::now();
  orvane_start();
  std::thread poller([&] {
    for (;;) {
      const bool afterStop = stopped.load();
      if (auto frame = poll()) {
        frames.push_back(std::move(*frame));
      } else if (afterStop) {
        return;
      } else {
        std::this_thread::sleep_for(milliseconds(1));
      }
    }
  });
  std::this_thread::sleep_for(milliseconds(200));
  orvane_stop();
  const auto afterStop = Clock::now();
  stopped = true;
  poller.join();

  expectInSequence(frames);
  EXPECT_LE(static_cast<std::int64_t>(frames.size()), periodsIn(afterStop - beforeStart));
  EXPECT_GE(frames.size(), 10u);
}

TEST_F(Capture, StartingAgainBeginsANewCaptureWithTheSignalsRunningOn) {
  open();
  const auto first = record(milliseconds(100));
  orvane_start();
  const auto afterStart = Clock::now();
  std::this_thread::sleep_for(milliseconds(60));
  orvane_start();  // already capturing: the schedule must be kept
  std::this_thread::sleep_for(milliseconds(60));
  const auto beforeStop = Clock::now();
  orvane_stop();
  const auto second = drain();
  ASSERT_FALSE(first.empty());
  expectInSequence(second);
  EXPECT_GE(static_cast<std::int64_t>(second.size()), periodsIn(beforeStop - afterStart));
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first.front().samples, second.front().samples);
}

}  // namespace
}  // namespace sim_test
