// The files of `bvhost record` as one sink of the recording. Each output is
// checked and claimed before anything connects, written under its partial
// name through a writer of its format, checked to be still there about once
// a second, and put in place of its target only once it is complete. Beside
// each goes the run's events.tsv: its markers and the notes of its time
// line, which a CSV file has no other place for.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "base/channel_info.h"
#include "base/frame_sink.h"
#include "base/recording_info.h"
#include "files/output_paths.h"
#include "files/partial_file.h"
#include "files/sample_writer.h"

namespace bvhost {

// What became of the files at the end.
struct CompletedOutputs {
  std::vector<std::string> wrote;   // complete, in place of their targets
  std::vector<std::string> events;  // the events.tsv files written, as named
  // Under their partial names, readable, each with why its target was left.
  std::vector<std::string> kept;
  std::vector<std::string> lost;  // deleted or replaced under their names
  std::exception_ptr failure;     // the first file's failure, if any
};

class RecordingOutputs : public FrameSink {
 public:
  // Checks every output and claims its partial file, so a bad one costs
  // nothing and touches no file; throws OutputError.
  explicit RecordingOutputs(std::vector<OutputFile> files);

  const std::vector<OutputFile>& files() const { return files_; }
  const std::vector<PartialFile>& partials() const { return partials_; }

  // Opens a writer on each partial file once the stream has begun, `info`
  // saying when; throws OutputError.
  void open(const std::vector<ChannelInfo>& channels, const RecordingInfo& info);

  void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
             const float* values, std::uint64_t count) override;
  void skipFrames(std::uint64_t first, std::uint64_t count) override;
  void annotate(const Annotation& annotation, bool begins) override;
  // Every file still at its name, and then everything written on the disk;
  // throws OutputError.
  void sync() override;
  // The least any file's writer is sure to keep, and before the files
  // open the least an EDF+/BDF+ file of any sensors keeps.
  std::optional<std::size_t> noteRoomPerFrame() const override;
  std::size_t ownNoteBytes() const override;

  // Completes every file and puts each complete one in place of its target;
  // one that failed stays under its partial name, readable, and the target
  // is left as it was. Then writes the events.tsv beside each file put in
  // place (once for files that share one, as run.bdf and run.csv do).
  // Never throws: a failure is in what it returns.
  CompletedOutputs complete();
  // Every writer's remarks for the person recording.
  std::vector<std::string> notes() const;

 private:
  void writeEvents(CompletedOutputs& done);

  std::vector<OutputFile> files_;
  // Declared before the writers, which write through their descriptors.
  std::vector<PartialFile> partials_;
  std::vector<std::unique_ptr<SampleWriter>> writers_;
  // Every finished note and marker, for the events.tsv.
  std::vector<Annotation> timeline_;
};

}  // namespace bvhost
