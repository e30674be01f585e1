#include "fuzz_interop.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "orvane_interop.h"

namespace fuzzdev {

namespace {

// Bounds that keep one input fast; what matters is the shape, not the size.
constexpr std::size_t kMaxIdentifiers = 48;
constexpr std::int32_t kMaxSensors = 48;
constexpr std::int32_t kMaxChannelsPerSensor = 40;
constexpr std::size_t kMaxRates = 256;
constexpr std::size_t kMaxLongAnswer = 4096;
constexpr std::int32_t kMaxFrameSamples = 16384;

// Pieces a channel list is made from, so that keys repeat, come back after
// another key, and meet "+" and "|" in unusual places.
constexpr const char* kKeys[] = {"A", "B", "C", "", "A+B", "|", "+", "K", "Sensor-1", "a|b"};
constexpr const char* kSuffixes[] = {"", "+x", "+y", "+", "++", "+|", "+EMG", "+ACC X"};
constexpr const char* kUnits[] = {"METERS",  "DEGS",          "N",     "G",          "MICROTESLA",
                                  "VOLTS",   "METERS_SECOND", "Nm",    "MILLIVOLTS", "BPM",
                                  "Celsius", "DEG_S",         "WATTS", "volts",      "VOLTS "};

std::string channelListFrom(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      return in.ConsumeRandomLengthString(512);  // any bytes at all
    case 1:
      return std::string();
    default:
      break;
  }
  std::string list;
  const std::size_t identifiers = in.ConsumeIntegralInRange<std::size_t>(0, kMaxIdentifiers);
  for (std::size_t i = 0; i < identifiers; ++i) {
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
      list += in.ConsumeRandomLengthString(12);
    } else {
      list += in.PickValueInArray(kKeys);
      list += in.PickValueInArray(kSuffixes);
    }
    list += '|';
  }
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    list += in.ConsumeRandomLengthString(8);  // text after the last separator
  }
  return list;
}

double rateFrom(FuzzedDataProvider& in) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kSpecial[] = {
      std::numeric_limits<double>::quiet_NaN(),
      -std::numeric_limits<double>::quiet_NaN(),
      std::numeric_limits<double>::signaling_NaN(),
      kInf,
      -kInf,
      0.0,
      -0.0,
      std::numeric_limits<double>::max(),
      std::numeric_limits<double>::lowest(),
      std::numeric_limits<double>::denorm_min(),
      1000.0,
      2000.0,
      1925.925925925926,
      148.14814814814815,
      37.037037037037,  // half a sample per frame
      -37.037037037037,
      18446744073709551616.0 / 0.0135,  // 2^64 samples per frame
      9223372036854775808.0 / 0.0135,
      1e300,
      -1e300,
  };
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return in.PickValueInArray(kSpecial);
    case 1:
      return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
    case 2:
      return in.ConsumeFloatingPoint<double>();
    default:
      return static_cast<double>(in.ConsumeIntegralInRange<int>(0, 4000));
  }
}

// Fills the metadata: the counts may disagree with the list in every way,
// but each array holds as many entries as the counts promise.
const char* describe(OrvaneMetadataBuf& metadata) {
  Device& d = device();
  d.channelsPerSensor.clear();
  d.sampleRates.clear();
  if (d.input == nullptr) {
    d.channelList.clear();
    metadata.sensorCount = 0;
    metadata.channelsPerSensor = nullptr;
    metadata.sampleRates = nullptr;
    return d.channelList.c_str();
  }
  FuzzedDataProvider& in = *d.input;
  const bool nullList = in.ConsumeIntegralInRange<int>(0, 15) == 0;
  d.channelList = nullList ? std::string() : channelListFrom(in);
  std::int32_t sensors = 0;
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      sensors =
          in.ConsumeIntegralInRange<std::int32_t>(std::numeric_limits<std::int32_t>::min(), -1);
      break;
    case 1:
      sensors = 0;
      break;
    default:
      sensors = in.ConsumeIntegralInRange<std::int32_t>(1, kMaxSensors);
      break;
  }
  std::size_t rates = 0;
  for (std::int32_t s = 0; s < sensors; ++s) {
    std::int32_t channels = 0;
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
        channels =
            in.ConsumeIntegralInRange<std::int32_t>(std::numeric_limits<std::int32_t>::min(), -1);
        break;
      case 1:
        channels = 0;
        break;
      default:
        channels = in.ConsumeIntegralInRange<std::int32_t>(1, kMaxChannelsPerSensor);
        break;
    }
    if (channels > 0) {
      channels = static_cast<std::int32_t>(
          std::min<std::size_t>(static_cast<std::size_t>(channels), kMaxRates - rates));
      rates += static_cast<std::size_t>(channels);
    }
    d.channelsPerSensor.push_back(channels);
  }
  for (std::size_t r = 0; r < rates; ++r) {
    d.sampleRates.push_back(rateFrom(in));
  }
  metadata.reserved = in.ConsumeIntegral<std::int32_t>();
  metadata.sensorCount = sensors;
  // An empty array may come as a null pointer.
  const bool nullWhenEmpty = in.ConsumeBool();
  metadata.channelsPerSensor =
      d.channelsPerSensor.empty() && nullWhenEmpty ? nullptr : d.channelsPerSensor.data();
  metadata.sampleRates = d.sampleRates.empty() && nullWhenEmpty ? nullptr : d.sampleRates.data();
  return nullList ? nullptr : d.channelList.c_str();
}

}  // namespace

Device& device() {
  static Device instance;
  return instance;
}

}  // namespace fuzzdev

using fuzzdev::device;

const char* orvane_initialize(OrvaneMetadataBuf& metadata, std::int32_t, std::int32_t, bool) {
  return fuzzdev::describe(metadata);
}

const char* orvane_scan(OrvaneMetadataBuf& metadata) { return fuzzdev::describe(metadata); }

void orvane_start() {}
void orvane_stop() {}
void orvane_close() { ++device().closeCalls; }

bool orvane_configure(bool a, bool b, bool c, bool d) {
  fuzzdev::Device& dev = device();
  dev.configured[0] = a;
  dev.configured[1] = b;
  dev.configured[2] = c;
  dev.configured[3] = d;
  ++dev.configureCalls;
  return dev.input != nullptr && dev.input->ConsumeBool();
}

// One frame: a count per inventory channel (negative, zero or large) and
// exactly as many values as the positive counts add up to.
bool orvane_pollData(OrvaneFrameBuf& frame) {
  fuzzdev::Device& dev = device();
  if (dev.framesPending == 0) {
    return false;
  }
  --dev.framesPending;
  ++dev.framesPolled;
  fuzzdev::Frame& current = dev.current;
  current.sampleCounts.clear();
  current.samples.clear();
  std::int32_t budget = fuzzdev::kMaxFrameSamples;
  std::uint32_t pattern = static_cast<std::uint32_t>(dev.framesPolled * 0x9e3779b9u);
  for (std::size_t c = 0; c < dev.inventoryChannels; ++c) {
    std::int32_t count = 0;
    if (dev.input != nullptr) {
      FuzzedDataProvider& in = *dev.input;
      switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
          count =
              in.ConsumeIntegralInRange<std::int32_t>(std::numeric_limits<std::int32_t>::min(), -1);
          break;
        case 1:
          count = 0;
          break;
        case 2:
          count = in.ConsumeIntegralInRange<std::int32_t>(0, budget);
          break;
        default:
          count = in.ConsumeIntegralInRange<std::int32_t>(0, 30);
          break;
      }
    }
    count = std::min(count, budget);
    if (count > 0) {
      budget -= count;
      for (std::int32_t k = 0; k < count; ++k) {
        pattern = pattern * 1664525u + 1013904223u;  // every bit pattern, NaNs included
        current.samples.push_back(std::bit_cast<float>(pattern));
      }
    }
    current.sampleCounts.push_back(count);
  }
  frame.reserved = dev.input != nullptr ? dev.input->ConsumeIntegral<std::int64_t>() : 0;
  // Both arrays are always set, even when empty.
  current.sampleCounts.reserve(1);
  current.samples.reserve(1);
  frame.sampleCounts = current.sampleCounts.data();
  frame.samples = current.samples.data();
  return true;
}

// Null, empty, short, long or unit texts; sometimes the device scribbles on
// the identifier it was handed, which it is allowed to do.
const char* orvane_infoRequest(char* identifier, InfoCode) {
  fuzzdev::Device& dev = device();
  if (dev.input == nullptr) {
    dev.answer.clear();
    return dev.answer.c_str();
  }
  FuzzedDataProvider& in = *dev.input;
  const std::size_t length = std::strlen(identifier);
  if (length > 0 && in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    std::memset(identifier, in.ConsumeIntegral<char>(), length);
  }
  switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
      return nullptr;
    case 1:
      dev.answer.clear();
      break;
    case 2:
      dev.answer.assign(in.ConsumeIntegralInRange<std::size_t>(16, fuzzdev::kMaxLongAnswer),
                        in.ConsumeIntegral<char>() | 1);
      break;
    case 3:
    case 4:
      dev.answer = in.PickValueInArray(fuzzdev::kUnits);
      break;
    default:
      dev.answer = in.ConsumeRandomLengthString(24);
      break;
  }
  // An answer is a C string: it ends at its first NUL.
  return dev.answer.c_str();
}
