// Samples into the digital form of an EDF+ or BDF+ file, a record at a
// time, on EDFlib's own scale. Converted here rather than by EDFlib, whose
// conversion of physical values costs about twice as much per sample; a test
// holds what reads back to within half a step of what was recorded.
#pragma once

#include <cstddef>
#include <vector>

#include "base/channel_info.h"

namespace bvhost {

// The digital values a sample may take: three bytes in BDF+, two in EDF+.
struct EdfDigitalRange {
  int minimum = 0;
  int maximum = 0;
};
EdfDigitalRange edfDigitalRange(bool bdf);

// How a physical value of one signal becomes a digital one.
struct EdfScale {
  std::size_t samples = 0;  // per record
  double step = 1.0;        // physical units per digital step
  double offset = 0.0;      // digital value of physical zero, negated
};
// EDFlib's scale for the channel's unit, the one every reader applies to
// the digital values.
EdfScale edfScale(const ChannelInfo& channel, EdfDigitalRange digital);

class EdfRecordEncoder {
 public:
  EdfRecordEncoder() = default;
  // One scale per signal, in the file's order.
  EdfRecordEncoder(std::vector<EdfScale> scales, bool bdf);

  // One record's samples, each signal's after the other's, into the
  // record's digital form; returns where the next record's samples begin.
  const float* encode(const float* samples);
  // Hands the record encoded last to EDFlib in one call; returns EDFlib's
  // answer, 0 when it took it.
  int write(int handle);

 private:
  std::vector<EdfScale> scales_;
  bool bdf_ = true;
  EdfDigitalRange digital_;
  // Three bytes a sample in BDF+, a short in EDF+.
  std::vector<unsigned char> bytes_;
  std::vector<short> shorts_;
};

}  // namespace bvhost
