// A destination for recorded samples. Blocks arrive per channel in the order
// the plug-in delivered them; close() completes the file.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel_layout.h"

namespace bvhost {

enum class OutputFormat { Csv, Edf, Bdf };

struct RecordingInfo {
  std::string pluginName;
  std::string pluginVersion;
  std::time_t start = 0;
};

class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SampleWriter {
 public:
  virtual ~SampleWriter() = default;
  virtual void write(std::size_t channel, std::uint64_t firstIndex, const float* values,
                     std::uint64_t count) = 0;
  // Completes and closes the file; throws OutputError when it cannot.
  virtual void close() = 0;
  // Remarks for the person recording: what was left out, clipped or padded.
  virtual std::vector<std::string> notes() const { return {}; }
  virtual const std::string& path() const = 0;
};

std::unique_ptr<SampleWriter> openWriter(OutputFormat format, const std::string& path,
                                         const std::vector<ChannelInfo>& channels,
                                         const RecordingInfo& info);

}  // namespace bvhost
