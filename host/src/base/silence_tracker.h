// Where each sensor delivered less than its frames hold, as stretches of
// time: a sensor that drops out for a second is one silence, whatever number
// of channels and frames it spans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace bvhost {

struct Silence {
  double onsetSeconds = 0.0;
  double durationSeconds = 0.0;
};

class SilenceTracker {
 public:
  explicit SilenceTracker(std::size_t sensors) : open_(sensors), closed_(sensors) {}

  // Frame `frame` of `sensor` lacks samples from `missingFromSeconds` into
  // the frame on (the earliest point any of its channels ran out); a frame
  // with nothing missing is not noted. Frames of one sensor come in order.
  // Returns the silence this closes, if the new one does not continue it.
  std::optional<Silence> noteShortFrame(std::size_t sensor, std::uint64_t frame,
                                        double missingFromSeconds);
  // A frame of `sensor` that lacked nothing ends any open silence.
  std::optional<Silence> noteFullFrame(std::size_t sensor);
  // Closes every open silence, as at the end of a recording; returns them
  // with their sensor.
  std::vector<std::pair<std::size_t, Silence>> closeAll();

  std::size_t sensors() const { return closed_.size(); }
  // Where the sensor's silence still going on began, if one is.
  std::optional<double> openOnset(std::size_t sensor) const {
    return open_[sensor] ? std::optional<double>(open_[sensor]->onsetSeconds) : std::nullopt;
  }
  // The closed silences of a sensor, in time order.
  const std::vector<Silence>& silences(std::size_t sensor) const { return closed_[sensor]; }

 private:
  struct Open {
    double onsetSeconds;
    std::uint64_t endFrame;  // the frame after the last short one
  };

  std::optional<Silence> close(std::size_t sensor);

  std::vector<std::optional<Open>> open_;
  std::vector<std::vector<Silence>> closed_;
};

}  // namespace bvhost
