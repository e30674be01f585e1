// The live view's copy of the stream: per frame and channel, the extremes
// and the energy of what arrived, three numbers in place of a frame's
// samples. What a browser draws one screen column from needs no more, and
// building it costs the recording thread one pass over the samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bvhost {

// A channel's part of one frame. count 0 means nothing arrived: a gap the
// view shows as one, not a flat line.
struct ViewColumn {
  float min = 0.0f;
  float max = 0.0f;
  float sumSquares = 0.0f;
  std::uint32_t count = 0;
};

// Consecutive frames of every channel, frame by frame.
struct ViewBatch {
  std::uint64_t firstFrame = 0;
  std::size_t channels = 0;
  std::vector<ViewColumn> columns;  // columns[(frame - firstFrame) * channels + channel]

  std::size_t frames() const { return channels == 0 ? 0 : columns.size() / channels; }
  const ViewColumn& at(std::size_t frameOffset, std::size_t channel) const {
    return columns[frameOffset * channels + channel];
  }
};

// Appends `next` to `batch` when it continues it frame for frame; false,
// leaving both as they are, when it does not.
bool extend(ViewBatch& batch, const ViewBatch& next);

// Gathers blocks into a batch until it is taken. Runs on the recording
// thread only.
class ViewDecimator {
 public:
  // A batch never holds more frames than this: when nobody takes them for
  // that long, the older ones are dropped rather than memory grown.
  static constexpr std::size_t kMaxFrames = 1024;

  explicit ViewDecimator(std::size_t channels) { batch_.channels = channels; }

  // The channel's block of `frame`. A block for a frame already taken is
  // left out: the view has moved on.
  void add(std::size_t channel, std::uint64_t frame, const float* values, std::uint64_t count);

  bool empty() const { return batch_.columns.empty(); }
  // Hands the frames over and starts afresh after the last of them.
  ViewBatch take();
  std::uint64_t droppedFrames() const { return dropped_; }

 private:
  void dropAll(std::uint64_t nextFrame);

  ViewBatch batch_;
  std::uint64_t nextFirstFrame_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace bvhost
