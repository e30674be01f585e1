// Per-channel bookkeeping of a stream: what arrived, what the rates promise
// for the elapsed time, and any break in firstIndex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/annotation.h"
#include "base/channel_info.h"
#include "base/silence_tracker.h"
#include "kessra_plugin.h"

namespace bvhost {

// How the summary lists what arrived: a row per channel, or a row per
// sensor plus rows for only the channels that need a look.
enum class SummaryDetail { Automatic, Sensors, Channels };

// Up to this many sensors a row per channel still reads at a glance.
inline constexpr std::size_t kChannelTableSensors = 4;

struct ChannelStats {
  std::uint64_t received = 0;
  std::uint64_t nextIndex = 0;
  std::uint64_t gaps = 0;
  std::uint64_t blocks = 0;
  // Blocks whose count differs from the channel's samples per frame.
  std::uint64_t offSizeBlocks = 0;
  // Samples beyond the channel's samples per frame, which only CSV keeps.
  std::uint64_t beyondFrame = 0;
  std::string firstGap;
};

// Frames of the stream that never reached bvhost, found from its clock.
struct LostSpan {
  std::uint64_t firstFrame = 0;
  std::uint64_t frames = 0;
  // The host was held up meanwhile, so the frames may have been lost at
  // another place within the time it could not read.
  bool placeUncertain = false;
};

class StreamStats {
 public:
  explicit StreamStats(const std::vector<ChannelInfo>& channels);

  // The channel's block of frame `frame`; a channel's frames come in order.
  void add(std::size_t channel, std::uint64_t frame, const SampleBlock& block);
  void noteUnknownBlock(const char* component, const char* channel);
  // Frames that never came, before the next ones added: no sensor's silence
  // runs across them, since nobody knows what the sensors did meanwhile.
  void noteLost(const LostSpan& span);

  const std::vector<ChannelInfo>& channels() const { return channels_; }
  const ChannelStats& channel(std::size_t index) const { return stats_[index]; }
  std::uint64_t totalSamples() const { return total_; }
  std::uint64_t totalGaps() const;
  std::uint64_t unknownBlocks() const { return unknownBlocks_; }

  // Ends every open silence, as at the end of a recording.
  void finish();
  const SilenceTracker& silences() const { return silences_; }
  const std::vector<LostSpan>& lostSpans() const { return lost_; }
  std::uint64_t lostFrames() const;

  // What the files' time line gains, in the order it arose: silences as they
  // begin (their end unknown yet) and as they end, and lost frames. A file
  // journals a beginning at once, so a run killed during a long silence
  // still marks it.
  struct TimelineNote {
    Annotation annotation;
    bool begins = false;  // the duration is not known yet
  };
  std::vector<TimelineNote> takeTimeline();
  bool timelinePending() const { return !timeline_.empty(); }

  // What is printed at the end of a recording (stream_summary.cpp).
  std::string summary(double elapsedSeconds, std::uint64_t frames,
                      SummaryDetail detail = SummaryDetail::Automatic) const;

 private:
  const std::vector<ChannelInfo>& channels_;
  std::vector<ChannelStats> stats_;
  std::uint64_t total_ = 0;
  std::uint64_t unknownBlocks_ = 0;
  std::string firstUnknown_;
  // Per sensor, the frame whose blocks are being gathered and the earliest
  // point in it where one of the sensor's channels ran out.
  struct SensorFrame {
    std::uint64_t frame = 0;
    double missingFrom = 0.0;
    bool gathering = false;
  };
  void noteSensorFrame(std::size_t sensor);
  void noteClosed(std::size_t sensor, const Silence& silence);
  std::vector<SensorFrame> sensorFrames_;
  SilenceTracker silences_;
  std::vector<LostSpan> lost_;
  std::vector<TimelineNote> timeline_;
};

// The files' texts for a sensor's silence and for frames lost upstream.
std::string silenceText(std::size_t sensor);
std::string lostFramesText(const LostSpan& span);

}  // namespace bvhost
