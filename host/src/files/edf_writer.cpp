#include "files/edf_writer.h"

#include <edflib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>

#include "base/frame_period.h"
#include "files/annotation_journal.h"
#include "files/edf_annotations.h"
#include "files/edf_finish.h"
#include "files/edf_header.h"
#include "files/output_error.h"
#include "files/write_failure.h"

namespace bvhost {
namespace {

// EDFlib takes the record duration in units of 10 microseconds.
constexpr int kRecordDurationUnits = static_cast<int>(
    std::chrono::duration_cast<std::chrono::microseconds>(kFramePeriod).count() / 10);

std::string openErrorText(int code) {
  switch (code) {
    case EDFLIB_MALLOC_ERROR:
      return "out of memory";
    case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY:
      return std::string("cannot create the file: ") + std::strerror(errno);
    case EDFLIB_MAXFILES_REACHED:
      return "too many files open";
    case EDFLIB_FILE_ALREADY_OPENED:
      return "the file is already open";
    case EDFLIB_NUMBER_OF_SIGNALS_INVALID:
      return "invalid number of signals";
    default:
      return "EDFlib error " + std::to_string(code);
  }
}

}  // namespace

std::string edfLabel(const ChannelInfo& channel) { return shortLabel(channel).substr(0, 16); }

EdfRecordingFields edfRecordingFields(const RecordingInfo& info, std::size_t sensors,
                                      std::size_t signals) {
  // EDFlib fills at most 66 of the field's 80 characters (read back, the
  // rest is cut), "Startdate dd-MMM-yyyy X X " takes 26, and one space
  // parts the two subfields.
  constexpr std::size_t kBudget = 66 - 26 - 1;
  std::string equipment = info.pluginName;
  if (!info.pluginVersion.empty()) {
    equipment += (equipment.empty() ? "" : " ") + info.pluginVersion;
  }
  const std::string sensorCount = std::to_string(sensors) +
                                  (sensors == 1 ? " sensor, " : " sensors, ") +
                                  std::to_string(signals);
  const std::string counts = sensorCount + (signals == 1 ? " channel" : " channels");
  std::string additional;
  for (const std::string& candidate :
       {"bvhost record, " + counts, "bvhost, " + counts, counts, sensorCount + " ch"}) {
    additional = candidate;
    if (equipment.size() + additional.size() <= kBudget) {
      break;
    }
  }
  if (equipment.size() + additional.size() > kBudget) {
    equipment.resize(kBudget - std::min(kBudget, additional.size()));
  }
  return {equipment, additional};
}

EdfWriter::EdfWriter(int fd, const std::string& path, bool bdf,
                     const std::vector<ChannelInfo>& channels, const RecordingInfo& info)
    : path_(path), channels_(channels), signalOf_(channels.size(), -1) {
  std::vector<SignalSlot> slots;
  std::size_t sensors = 0;
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const ChannelInfo& channel = channels_[i];
    sensors = std::max(sensors, channel.componentIndex + 1);
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
  assembler_ = std::make_unique<RecordAssembler>(std::move(slots), sensors);
  openFile(fd, bdf, info);
  journal_ = std::make_unique<AnnotationJournal>(journalPathFor(path_));
  for (const auto& label : leftOut_) {
    annotations_.push_back({0.0, -1.0, "no signal: " + label});
    journal_->append(annotations_.back());
  }
}

void EdfWriter::openFile(int fd, bool bdf, const RecordingInfo& info) {
  const int signals = static_cast<int>(channelOf_.size());
  // EDFlib opens by name; the descriptor's own entry in /proc reaches the
  // file the caller created, whatever now stands at its name.
  const std::string throughDescriptor = "/proc/self/fd/" + std::to_string(fd);
  handle_ = edfopen_file_writeonly(
      throughDescriptor.c_str(), bdf ? EDFLIB_FILETYPE_BDFPLUS : EDFLIB_FILETYPE_EDFPLUS, signals);
  if (handle_ < 0) {
    const int code = handle_;
    handle_ = -1;
    throw OutputError("cannot create " + path_ + ": " + openErrorText(code));
  }
  bdf_ = bdf;
  digitalMax_ = bdf ? 8388607 : 32767;
  digitalMin_ = bdf ? -8388608 : -32768;
  // The annotations go into the file when it is completed, packed densely
  // into these signals of every record, sized to what the sensors can need.
  std::size_t annotationSensors = 0;
  for (const std::size_t channel : channelOf_) {
    annotationSensors = std::max(annotationSensors, channels_[channel].componentIndex + 1);
  }
  const int annotationSignals = static_cast<int>(annotationSignalsFor(annotationSensors));
  std::size_t recordSamples = 0;
  bool ok = edf_set_datarecord_duration(handle_, kRecordDurationUnits) == 0 &&
            edf_set_number_of_annotation_signals(handle_, annotationSignals) == 0;
  for (int s = 0; s < signals && ok; ++s) {
    const ChannelInfo& channel = channels_[channelOf_[static_cast<std::size_t>(s)]];
    const PhysicalRange range = physicalRange(channel.unit);
    const std::string transducer = channel.component.substr(0, 80);
    // EDFlib's scale, the one every reader applies to the digital values.
    const double step = (range.maximum - range.minimum) / (digitalMax_ - digitalMin_);
    scales_.push_back({channel.samplesPerFrame, step, range.maximum / step - digitalMax_});
    recordSamples += channel.samplesPerFrame;
    ok = edf_set_samplefrequency(handle_, s, static_cast<int>(channel.samplesPerFrame)) == 0 &&
         edf_set_physical_maximum(handle_, s, range.maximum) == 0 &&
         edf_set_physical_minimum(handle_, s, range.minimum) == 0 &&
         edf_set_digital_maximum(handle_, s, digitalMax_) == 0 &&
         edf_set_digital_minimum(handle_, s, digitalMin_) == 0 &&
         edf_set_label(handle_, s, edfLabel(channel).c_str()) == 0 &&
         edf_set_physical_dimension(handle_, s, edfDimension(channel.unit).c_str()) == 0 &&
         edf_set_transducer(handle_, s, transducer.c_str()) == 0;
  }
  if (bdf) {
    bytes_.resize(recordSamples * 3);
  } else {
    shorts_.resize(recordSamples);
  }
  // The header holds local time to the second; the rest of the second goes
  // into the first record, as EDF+ keeps it, to the 100 us EDFlib advises.
  const auto start = std::chrono::floor<std::chrono::seconds>(info.start);
  const auto subsecond =
      std::chrono::duration_cast<std::chrono::microseconds>(info.start - start).count() / 100;
  const std::time_t startSeconds = std::chrono::system_clock::to_time_t(start);
  std::tm local{};
  localtime_r(&startSeconds, &local);
  // EDF dates cover 1985 to 2084; a clock outside that gets the first day.
  if (local.tm_year + 1900 < 1985 || local.tm_year + 1900 > 2084) {
    local = std::tm{};
    local.tm_year = 85;
    local.tm_mday = 1;
  }
  std::size_t sensors = 0;
  for (const std::size_t channel : channelOf_) {
    sensors = std::max(sensors, channels_[channel].componentIndex + 1);
  }
  const EdfRecordingFields fields = edfRecordingFields(info, sensors, channelOf_.size());
  ok = ok &&
       edf_set_startdatetime(handle_, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                             local.tm_hour, local.tm_min, local.tm_sec) == 0 &&
       edf_set_subsecond_starttime(handle_, static_cast<int>(subsecond * 1000)) == 0 &&
       edf_set_equipment(handle_, fields.equipment.c_str()) == 0 &&
       edf_set_recording_additional(handle_, fields.additional.c_str()) == 0;
  if (!ok) {
    edfclose_file(handle_);
    handle_ = -1;
    throw OutputError("cannot set up the header of " + path_);
  }
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
// end is known still marks it; the file takes the finished annotation.
void EdfWriter::annotate(const Annotation& annotation, bool begins) {
  if (handle_ < 0) {
    return;
  }
  if (begins) {
    journal_->appendOpen(annotation.onsetSeconds, annotation.text);
    return;
  }
  journal_->append(annotation);
  annotations_.push_back(annotation);
}

void EdfWriter::writeReady() {
  if (!failure_.empty()) {
    // The file already refused data; what follows would land out of place.
    assembler_->clearReady();
    return;
  }
  const float* samples = assembler_->readyData().data();
  for (std::size_t r = 0; r < assembler_->readyRecords(); ++r) {
    samples = encodeRecord(samples);
    const int result = bdf_ ? edf_blockwrite_digital_3byte_samples(handle_, bytes_.data())
                            : edf_blockwrite_digital_short_samples(handle_, shorts_.data());
    if (result != 0) {
      assembler_->clearReady();
      fail("writing", errno);
    }
    ++records_;
  }
  assembler_->clearReady();
}

// Converted here rather than by EDFlib, whose conversion of physical values
// costs about twice as much per sample, on EDFlib's own scale; a test holds
// what reads back to within half a step of what was recorded.
const float* EdfWriter::encodeRecord(const float* samples) {
  unsigned char* bytes = bytes_.data();
  short* shorts = shorts_.data();
  for (const Scale& scale : scales_) {
    for (std::size_t i = 0; i < scale.samples; ++i) {
      // Rounded to the nearest step: EDFlib truncates toward zero, which
      // doubles the error a reader sees.
      const double exact = static_cast<double>(*samples++) / scale.step - scale.offset;
      const auto digital =
          std::clamp(static_cast<int>(exact + std::copysign(0.5, exact)), digitalMin_, digitalMax_);
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

void EdfWriter::journalAnnotations() {
  for (auto& annotation : assembler_->takeAnnotations()) {
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
