// A destination for recorded samples. Blocks arrive per channel in the order
// the plug-in delivered them; a channel's k-th block belongs to frame k of
// the stream. Every call runs on the recording thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel_layout.h"
#include "silence_tracker.h"

namespace bvhost {

enum class OutputFormat { Csv, Edf, Bdf };

struct RecordingInfo {
  std::string pluginName;
  std::string pluginVersion;
  // When bv_start_streaming was called: the start of the stream's first frame.
  std::chrono::system_clock::time_point start{};
};

class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SampleWriter {
 public:
  virtual ~SampleWriter() = default;
  // The channel's next block; firstIndex is the plug-in's count of the
  // channel's samples before it.
  virtual void write(std::size_t channel, std::uint64_t firstIndex, const float* values,
                     std::uint64_t count) = 0;
  // Puts everything written so far on the disk, so a run killed now keeps
  // it; throws OutputError when the file could not take it (disk full, I/O
  // error). Called about once a second.
  virtual void sync() = 0;
  // Completes the file so that it reads as it stands, also after a failure;
  // throws OutputError when it cannot.
  virtual void close() = 0;
  // Remarks for the person recording: what was left out, clipped or filled.
  virtual std::vector<std::string> notes() const { return {}; }
  virtual const std::string& path() const = 0;
};

std::unique_ptr<SampleWriter> openWriter(OutputFormat format, const std::string& path,
                                         const std::vector<ChannelInfo>& channels,
                                         const RecordingInfo& info);

// "2026-12-08T10:53:19.123456+01:00", local time with its offset.
std::string isoTime(std::chrono::system_clock::time_point time);

}  // namespace bvhost
