#include "files/edf_writer.h"

#include <edflib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "files/annotation_journal.h"
#include "files/edf_annotations.h"
#include "files/edf_finish.h"
#include "files/edf_header.h"
#include "files/edf_setup.h"
#include "files/output_error.h"
#include "files/write_failure.h"

namespace bvhost {

EdfWriter::EdfWriter(int fd, const std::string& path, bool bdf,
                     const std::vector<ChannelInfo>& channels, const RecordingInfo& info)
    : path_(path), channels_(channels), signalOf_(channels.size(), -1) {
  std::vector<SignalSlot> slots;
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const ChannelInfo& channel = channels_[i];
    if (channel.samplesPerFrame == 0) {
      leftOut_.push_back(edfLabel(channel));
      continue;
    }
    signalOf_[i] = static_cast<int>(slots.size());
    channelOf_.push_back(i);
    const PhysicalRange range = physicalRange(channel.unit);
    slots.push_back({channel.componentIndex, static_cast<std::size_t>(channel.samplesPerFrame),
                     range.minimum, range.maximum});
  }
  if (slots.empty()) {
    throw OutputError("cannot write " + path + ": no channel reports samples per frame, and an " +
                      (bdf ? "BDF+" : "EDF+") + " file needs at least one signal");
  }
  if (slots.size() > EDFLIB_MAXSIGNALS) {
    throw OutputError("cannot write " + path + ": " + std::to_string(slots.size()) +
                      " signals, EDFlib takes at most " + std::to_string(EDFLIB_MAXSIGNALS));
  }
  assembler_ = std::make_unique<RecordAssembler>(std::move(slots), sensorCount(channels_));
  openFile(fd, bdf, info);
  journal_ = std::make_unique<AnnotationJournal>(journalPathFor(path_));
  for (const auto& label : leftOut_) {
    annotations_.push_back({0.0, -1.0, "no signal: " + label});
    ownNoteBytes_ += noteBytes(annotations_.back().text.size());
    journal_->append(annotations_.back());
  }
}

void EdfWriter::openFile(int fd, bool bdf, const RecordingInfo& info) {
  EdfFileSetup setup = openEdfFile(fd, path_, bdf, channels_, channelOf_, info);
  handle_ = setup.handle;
  noteRoom_ = noteRoomPerRecord(setup.annotationSignals);
  encoder_ = EdfRecordEncoder(std::move(setup.scales), bdf);
  fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (fd_ < 0) {
    const int error = errno;
    edfclose_file(handle_);
    handle_ = -1;
    throw OutputError("cannot keep " + path_ + " open to sync it: " + std::strerror(error));
  }
}

EdfWriter::~EdfWriter() {
  if (handle_ >= 0) {
    edfclose_file(handle_);
  }
  // Never completed: the run ended before recording (its partial file goes
  // too). After close() the journal stays only if the file could not take
  // its annotations, for a later repair.
  if (journal_ && !closed_) {
    try {
      journal_->remove();
    } catch (const OutputError&) {
    }
  }
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void EdfWriter::write(std::size_t channel, std::uint64_t frame, std::uint64_t, const float* values,
                      std::uint64_t count) {
  const int signal = signalOf_[channel];
  if (signal < 0 || handle_ < 0) {
    return;
  }
  assembler_->add(static_cast<std::size_t>(signal), frame, values, count);
  if (assembler_->readyRecords() >= kRecordsPerWrite) {
    writeReady();
  }
}

void EdfWriter::skipFrames(std::uint64_t first, std::uint64_t count) {
  if (handle_ < 0) {
    return;
  }
  assembler_->skip(first, count);
  if (assembler_->readyRecords() >= kRecordsPerWrite) {
    writeReady();
  }
}

// A beginning goes to the journal only, so that a run killed before the
// end is known still marks it; the file takes the finished annotation. Each
// is in the journal file at once: a marker someone was told was taken must
// outlast a kill straight after.
void EdfWriter::annotate(const Annotation& annotation, bool begins) {
  if (handle_ < 0) {
    return;
  }
  if (begins) {
    journal_->appendOpen(annotation.onsetSeconds, annotation.text);
  } else {
    journal_->append(annotation);
    annotations_.push_back(annotation);
  }
  journal_->write();
}

void EdfWriter::writeReady() {
  if (!failure_.empty()) {
    // The file already refused data; what follows would land out of place.
    assembler_->clearReady();
    return;
  }
  const float* samples = assembler_->readyData().data();
  for (std::size_t r = 0; r < assembler_->readyRecords(); ++r) {
    samples = encoder_.encode(samples);
    if (encoder_.write(handle_) != 0) {
      assembler_->clearReady();
      fail("writing", errno);
    }
    ++records_;
  }
  assembler_->clearReady();
}

void EdfWriter::journalAnnotations() {
  for (auto& annotation : assembler_->takeAnnotations()) {
    ownNoteBytes_ += noteBytes(annotation.text.size());
    journal_->append(annotation);
    annotations_.push_back(std::move(annotation));
  }
}

void EdfWriter::sync() {
  if (handle_ < 0) {
    return;
  }
  writeReady();
  journalAnnotations();
  journal_->sync();
  if (::fdatasync(fd_) != 0) {
    fail("writing", errno);
  }
  checkFileSize();
}

// EDFlib does not look at what its writes return, so a full disk or an I/O
// error shows only as a file shorter than what was written.
void EdfWriter::checkFileSize() {
  if (records_ == 0 || !failure_.empty()) {
    return;
  }
  struct stat status {};
  if (::fstat(fd_, &status) != 0) {
    fail("checking", errno);
  }
  if (recordBytes_ == 0) {
    std::string header(static_cast<std::size_t>(std::min<off_t>(status.st_size, 256 * 1024)), '\0');
    const ssize_t got = ::pread(fd_, header.data(), header.size(), 0);
    header.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    try {
      const EdfHeader parsed = parseEdfHeader(header);
      headerBytes_ = parsed.headerBytes;
      recordBytes_ = parsed.bytesPerRecord;
    } catch (const std::exception&) {
      failure_ = "checking " + path_ + " failed: its header is not as written";
      throw OutputError(failure_);
    }
  }
  const std::uint64_t expected = headerBytes_ + records_ * recordBytes_;
  if (static_cast<std::uint64_t>(status.st_size) < expected) {
    struct statvfs disk {};
    const bool full = ::fstatvfs(fd_, &disk) == 0 && disk.f_bavail == 0;
    fail("writing", full ? ENOSPC : 0, expected);
  }
}

void EdfWriter::fail(const std::string& what, int error, std::uint64_t wantedBytes) {
  failure_ = what + " " + path_ + " failed: " + writeFailureReason(error, wantedBytes);
  throw OutputError(failure_);
}

void EdfWriter::close() {
  if (handle_ < 0) {
    return;
  }
  closed_ = true;
  std::exception_ptr failure;
  try {
    assembler_->finish();
    writeReady();
    journalAnnotations();
    journal_->sync();
  } catch (...) {
    failure = std::current_exception();
  }
  edfclose_file(handle_);
  handle_ = -1;
  try {
    if (::fdatasync(fd_) != 0) {
      fail("writing", errno);
    }
    checkFileSize();
  } catch (...) {
    if (!failure) {
      failure = std::current_exception();
    }
  }
  // Even after a failure the file is completed from what it holds: whole
  // records counted in the header, annotations in place, so it still reads.
  // Through our own descriptor: whatever now stands at the file's name is
  // not ours to rewrite.
  try {
    const EdfFinishReport report = finishEdfFile(fd_, path_, annotations_);
    annotationsLeftOut_ = report.annotationsLeftOut;
    if (annotationsLeftOut_ > 0) {
      // The journal holds them all; it stays, beside the file it belongs to.
      throw OutputError(path_ + ": " + std::to_string(annotationsLeftOut_) + " of " +
                        std::to_string(annotations_.size()) +
                        " annotation(s) do not fit into the file and are not in it; all are "
                        "kept in " +
                        journal_->path());
    }
    journal_->remove();
  } catch (...) {
    if (!failure) {
      failure = std::current_exception();
    }
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
  // A write that failed during the run leaves the file short of what the
  // run recorded, however well it was completed.
  if (!failure_.empty()) {
    throw OutputError(failure_);
  }
}

std::vector<std::string> EdfWriter::notes() const {
  std::vector<std::string> notes;
  for (const auto& label : leftOut_) {
    notes.push_back(path_ + ": left out " + label + ": it reports no samples per frame");
  }
  for (std::size_t s = 0; s < channelOf_.size(); ++s) {
    const SignalCounts& counts = assembler_->counts(s);
    const ChannelInfo& channel = channels_[channelOf_[s]];
    const std::string label = edfLabel(channel);
    if (counts.clipped > 0) {
      const PhysicalRange range = physicalRange(channel.unit);
      notes.push_back(path_ + ": " + std::to_string(counts.clipped) + " sample(s) of " + label +
                      " outside [" + std::to_string(range.minimum) + ", " +
                      std::to_string(range.maximum) + "] were clipped");
    }
    if (counts.beyond + counts.late > 0) {
      notes.push_back(
          path_ + ": " + std::to_string(counts.beyond + counts.late) + " sample(s) of " + label +
          " did not fit their frame and are not in this file (a CSV output keeps them)");
    }
  }
  if (annotationsLeftOut_ > 0) {
    notes.push_back(path_ + ": " + std::to_string(annotationsLeftOut_) +
                    " annotation(s) did not fit into the file; all are kept in " +
                    journal_->path());
  }
  return notes;
}

}  // namespace bvhost
