// EDF+ and BDF+ through EDFlib: one signal per channel with samples per
// frame, one frame per data record. Records come from a RecordAssembler;
// this layer only moves them into the file, keeps the annotations in a
// journal beside it while the run lasts, and completes the file at the end.
#pragma once

#include <memory>
#include <vector>

#include "base/channel_info.h"
#include "base/recording_info.h"
#include "base/units.h"
#include "files/edf_encoding.h"
#include "files/record_assembler.h"
#include "files/sample_writer.h"

namespace bvhost {

class AnnotationJournal;

class EdfWriter : public SampleWriter {
 public:
  // About a quarter of a second of records per write: EDFlib writes each
  // record through to the file, and a write after a pause costs far more
  // than one straight after another.
  static constexpr std::size_t kRecordsPerWrite = 20;

  // Writes through `fd` (see openWriter); `path` names the file in
  // messages and places the annotation journal beside it.
  EdfWriter(int fd, const std::string& path, bool bdf, const std::vector<ChannelInfo>& channels,
            const RecordingInfo& info);
  ~EdfWriter() override;

  void write(std::size_t channel, std::uint64_t frame, std::uint64_t firstIndex,
             const float* values, std::uint64_t count) override;
  void skipFrames(std::uint64_t first, std::uint64_t count) override;
  void annotate(const Annotation& annotation, bool begins) override;
  void sync() override;
  void close() override;
  std::vector<std::string> notes() const override;
  const std::string& path() const override { return path_; }
  std::optional<std::size_t> noteRoomPerFrame() const override { return noteRoom_; }
  std::size_t ownNoteBytes() const override { return ownNoteBytes_; }

  std::uint64_t recordsWritten() const { return records_; }

 private:
  void openFile(int fd, bool bdf, const RecordingInfo& info);
  void writeReady();
  void journalAnnotations();
  void checkFileSize();
  [[noreturn]] void fail(const std::string& what, int error, std::uint64_t wantedBytes = 0);

  std::string path_;
  const std::vector<ChannelInfo>& channels_;
  // Channel index to signal index, or -1 for a channel left out.
  std::vector<int> signalOf_;
  std::vector<std::size_t> channelOf_;  // per signal
  std::vector<std::string> leftOut_;
  std::unique_ptr<RecordAssembler> assembler_;
  std::unique_ptr<AnnotationJournal> journal_;
  std::vector<Annotation> annotations_;
  EdfRecordEncoder encoder_;
  int handle_ = -1;
  int fd_ = -1;  // our own descriptor of the file, for fdatasync and its size
  std::uint64_t records_ = 0;
  std::uint64_t headerBytes_ = 0;
  std::uint64_t recordBytes_ = 0;
  std::size_t annotationsLeftOut_ = 0;
  std::size_t noteRoom_ = 0;  // per record, as noteRoomPerRecord gives it
  std::size_t ownNoteBytes_ = 0;
  std::string failure_;  // the first write that failed
  bool closed_ = false;
};

}  // namespace bvhost
