// One row per sample: component, channel, unit, index, time, value. A first
// line starting with "#" gives the stream's start time. The time line's
// notes (markers, silences, frames lost) are no rows: they are kept in an
// annotation journal beside the file while it is written, for the
// events.tsv that holds them once the run ends, or that repair writes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/channel_info.h"
#include "base/recording_info.h"
#include "files/sample_writer.h"

namespace bvhost {

class AnnotationJournal;

class CsvWriter : public SampleWriter {
 public:
  CsvWriter(int fd, const std::string& path, const std::vector<ChannelInfo>& channels,
            const RecordingInfo& info);
  ~CsvWriter() override;

  void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
             const float* values, std::uint64_t count) override;
  // A gap is a jump in time_s, in CSV as for a sensor's silence: a row
  // between samples would break every reader that takes the file as a table.
  void skipFrames(std::uint64_t, std::uint64_t) override {}
  // Into the journal, at once.
  void annotate(const Annotation& annotation, bool begins) override;
  void sync() override;
  // Completes the file and puts its journal on the disk, where it stays
  // until whoever writes the events.tsv removes it.
  void close() override;
  const std::string& path() const override { return path_; }

 private:
  // Rows gather in buffer_ and reach the file a megabyte at a time, so the
  // recording loop makes no system call for most frames.
  static constexpr std::size_t kBufferSize = 1 << 20;

  void append(const char* text, std::size_t size);
  // Puts buffer_ into the file; throws OutputError when it cannot.
  void flush();
  [[noreturn]] void fail(int error);

  std::string path_;
  const std::vector<ChannelInfo>& channels_;
  // Component, channel and unit already quoted for CSV, with the trailing
  // comma.
  std::vector<std::string> prefixes_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::unique_ptr<AnnotationJournal> journal_;
  bool closed_ = false;
  int fd_ = -1;
  // The errno of the first write that failed: nothing is written after it,
  // where rows would follow a cut one.
  int failure_ = 0;
};

// time_s's text for a time in seconds: seven decimals, the same digits as
// printf's "%.7f"; returns the end of what it wrote, at most 32 characters.
char* formatSeconds(char* out, double seconds);

// A field quoted only when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

}  // namespace bvhost
