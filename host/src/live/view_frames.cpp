#include "live/view_frames.h"

#include <algorithm>

namespace bvhost {

void ViewDecimator::add(std::size_t channel, std::uint64_t frame, const float* values,
                        std::uint64_t count) {
  if (channel >= batch_.channels || frame < nextFirstFrame_) {
    return;
  }
  if (batch_.columns.empty()) {
    batch_.firstFrame = frame;
  } else if (frame < batch_.firstFrame) {
    return;
  }
  if (frame - batch_.firstFrame >= kMaxFrames) {
    dropAll(frame);
  }
  const std::size_t row = frame - batch_.firstFrame;
  if (row >= batch_.frames()) {
    batch_.columns.resize((row + 1) * batch_.channels);
  }
  if (values == nullptr || count == 0) {
    return;
  }
  ViewColumn& column = batch_.columns[row * batch_.channels + channel];
  float low = values[0];
  float high = values[0];
  float energy = 0.0f;
  for (std::uint64_t i = 0; i < count; ++i) {
    low = std::min(low, values[i]);
    high = std::max(high, values[i]);
    energy += values[i] * values[i];
  }
  if (column.count == 0) {
    column.min = low;
    column.max = high;
  } else {
    column.min = std::min(column.min, low);
    column.max = std::max(column.max, high);
  }
  column.sumSquares += energy;
  column.count += static_cast<std::uint32_t>(std::min<std::uint64_t>(count, UINT32_MAX));
}

bool extend(ViewBatch& batch, const ViewBatch& next) {
  if (batch.channels != next.channels || batch.firstFrame + batch.frames() != next.firstFrame) {
    return false;
  }
  batch.columns.insert(batch.columns.end(), next.columns.begin(), next.columns.end());
  return true;
}

ViewBatch ViewDecimator::take() {
  if (batch_.columns.empty()) {
    return ViewBatch{0, batch_.channels, {}};
  }
  ViewBatch taken = std::move(batch_);
  batch_ = ViewBatch{};
  batch_.channels = taken.channels;
  nextFirstFrame_ = taken.firstFrame + taken.frames();
  return taken;
}

void ViewDecimator::dropAll(std::uint64_t nextFrame) {
  dropped_ += batch_.frames();
  batch_.columns.clear();
  batch_.firstFrame = nextFrame;
}

}  // namespace bvhost
