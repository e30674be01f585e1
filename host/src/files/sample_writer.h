// A destination for recorded samples. Blocks arrive per channel in the order
// the plug-in delivered them, each with the frame of the stream it belongs
// to, as the recording's one frame clock numbers it. Every call runs on the
// recording thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/annotation.h"
#include "base/channel_info.h"

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
  // The channel's block of frame `frame`; firstIndex is the plug-in's count
  // of the channel's samples before it. A channel's frames come in order.
  virtual void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
                     const float* values, std::uint64_t count) = 0;
  // Frames `first` on, `count` of them, never reached bvhost: every
  // channel's part of them is a gap, and no block for them follows.
  virtual void skipFrames(std::uint64_t first, std::uint64_t count) = 0;
  // A note for the recording's time line: a silence or frames lost. One
  // that `begins` has no known end yet; the same onset and text come again
  // with the duration once it ends.
  virtual void annotate(const Annotation& annotation, bool begins) = 0;
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

// Writes through `fd`, a new empty file open for reading and writing that the
// caller keeps open for as long as the writer lives; the file is never
// opened again by name, so nobody can swap another file in under it. `path`
// names it in messages and places its companion files.
std::unique_ptr<SampleWriter> openWriter(OutputFormat format, int fd, const std::string& path,
                                         const std::vector<ChannelInfo>& channels,
                                         const RecordingInfo& info);

// "2026-12-08T10:53:19.123456+01:00", local time with its offset.
std::string isoTime(std::chrono::system_clock::time_point time);

}  // namespace bvhost
