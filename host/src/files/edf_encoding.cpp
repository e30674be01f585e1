#include "files/edf_encoding.h"

#include <edflib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/units.h"

namespace bvhost {

EdfDigitalRange edfDigitalRange(bool bdf) {
  return bdf ? EdfDigitalRange{-8388608, 8388607} : EdfDigitalRange{-32768, 32767};
}

EdfScale edfScale(const ChannelInfo& channel, EdfDigitalRange digital) {
  const PhysicalRange range = physicalRange(channel.unit);
  const double step = (range.maximum - range.minimum) / (digital.maximum - digital.minimum);
  return {channel.samplesPerFrame, step, range.maximum / step - digital.maximum};
}

EdfRecordEncoder::EdfRecordEncoder(std::vector<EdfScale> scales, bool bdf)
    : scales_(std::move(scales)), bdf_(bdf), digital_(edfDigitalRange(bdf)) {
  std::size_t recordSamples = 0;
  for (const EdfScale& scale : scales_) {
    recordSamples += scale.samples;
  }
  if (bdf_) {
    bytes_.resize(recordSamples * 3);
  } else {
    shorts_.resize(recordSamples);
  }
}

const float* EdfRecordEncoder::encode(const float* samples) {
  unsigned char* bytes = bytes_.data();
  short* shorts = shorts_.data();
  for (const EdfScale& scale : scales_) {
    for (std::size_t i = 0; i < scale.samples; ++i) {
      // Rounded to the nearest step: EDFlib truncates toward zero, which
      // doubles the error a reader sees.
      const double exact = static_cast<double>(*samples++) / scale.step - scale.offset;
      const auto digital = std::clamp(static_cast<int>(exact + std::copysign(0.5, exact)),
                                      digital_.minimum, digital_.maximum);
      if (bdf_) {
        // Three bytes, least significant first, two's complement.
        const auto bits = static_cast<std::uint32_t>(digital);
        *bytes++ = static_cast<unsigned char>(bits);
        *bytes++ = static_cast<unsigned char>(bits >> 8);
        *bytes++ = static_cast<unsigned char>(bits >> 16);
      } else {
        *shorts++ = static_cast<short>(digital);
      }
    }
  }
  return samples;
}

int EdfRecordEncoder::write(int handle) {
  return bdf_ ? edf_blockwrite_digital_3byte_samples(handle, bytes_.data())
              : edf_blockwrite_digital_short_samples(handle, shorts_.data());
}

}  // namespace bvhost
