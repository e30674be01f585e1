#include "files/edf_finish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/posix_io.h"
#include "files/annotation_journal.h"
#include "files/edf_annotations.h"
#include "files/edf_header.h"
#include "files/output_error.h"

namespace bvhost {
namespace {

class File {
 public:
  File(int fd, const std::string& name) : fd_(fd), name_(name) {}

  [[noreturn]] void fail(const std::string& doing, int error = errno) const {
    throw OutputError(doing + " " + name_ + ": " + std::strerror(error));
  }

  std::uint64_t size() const {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
      fail("cannot read the size of");
    }
    return static_cast<std::uint64_t>(status.st_size);
  }

  // The file ending early counts as a failure: the caller asked only for
  // bytes the file's size says are there.
  void read(char* data, std::size_t size, std::uint64_t offset) const {
    if (const int error = readAllAt(fd_, data, size, offset); error != 0) {
      fail("cannot read", error);
    }
  }

  void write(const char* data, std::size_t size, std::uint64_t offset) const {
    if (const int error = writeAllAt(fd_, data, size, offset); error != 0) {
      fail("cannot write", error);
    }
  }

  void truncate(std::uint64_t size) const {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      fail("cannot cut the partial last record of");
    }
  }

  void sync() const {
    if (::fsync(fd_) != 0) {
      fail("cannot flush");
    }
  }

 private:
  int fd_;
  const std::string& name_;
};

EdfHeader readHeader(const File& file, const std::string& name, std::uint64_t size) {
  std::string bytes(kEdfFixedHeaderBytes, '\0');
  try {
    if (size < kEdfFixedHeaderBytes) {
      throw EdfHeaderError("the file holds " + std::to_string(size) + " bytes, less than a header");
    }
    file.read(bytes.data(), bytes.size(), 0);
    const std::size_t headerSize = edfHeaderSize(bytes);
    if (size < headerSize) {
      throw EdfHeaderError("the file holds " + std::to_string(size) + " bytes, less than its " +
                           std::to_string(headerSize) + "-byte header");
    }
    bytes.resize(headerSize);
    file.read(bytes.data() + kEdfFixedHeaderBytes, headerSize - kEdfFixedHeaderBytes,
              kEdfFixedHeaderBytes);
    return parseEdfHeader(bytes);
  } catch (const EdfHeaderError& error) {
    throw OutputError(name + " is no EDF or BDF file: " + error.what());
  }
}

std::vector<std::string> talsFor(std::vector<Annotation> annotations, double startOffset,
                                 std::size_t& unwritable) {
  std::stable_sort(
      annotations.begin(), annotations.end(),
      [](const Annotation& a, const Annotation& b) { return a.onsetSeconds < b.onsetSeconds; });
  std::vector<std::string> tals;
  for (const auto& annotation : annotations) {
    if (auto tal = formatTal(annotation, startOffset)) {
      tals.push_back(std::move(*tal));
    } else {
      ++unwritable;
    }
  }
  return tals;
}

std::size_t countAfter(const std::vector<Annotation>& annotations, double end) {
  return static_cast<std::size_t>(std::count_if(
      annotations.begin(), annotations.end(),
      [end](const Annotation& annotation) { return annotation.onsetSeconds >= end; }));
}

// The bytes an annotation area holds once rebuilt: its time-keeping
// annotation, if any, then NULs.
std::string clearedArea(const std::string& area, bool keeper) {
  std::string cleared(area.size(), '\0');
  if (keeper) {
    if (const auto length = timekeepingLength(area)) {
      area.copy(cleared.data(), *length);
    }
  }
  return cleared;
}

// The annotation areas of every record rebuilt: each keeps its record's
// time-keeping annotation and takes as many of `annotations` as fit, in
// time order; the report says how many went in and how many did not.
void rebuildAnnotations(const File& file, const std::string& name, const EdfHeader& header,
                        std::uint64_t records, std::vector<Annotation> annotations,
                        EdfFinishReport& report) {
  const std::vector<std::size_t> areas = header.annotationSignals();
  const std::uint64_t firstRecord = header.headerBytes;
  const EdfSignalHeader& keeper = header.signals[areas.front()];
  std::string area(keeper.bytesInRecord, '\0');
  file.read(area.data(), area.size(), firstRecord + keeper.offsetInRecord);
  const auto start = timekeepingOnset(area);
  if (!start) {
    throw OutputError(name +
                      " is no EDF+ or BDF+ file: its first data record begins with no "
                      "time-keeping annotation");
  }
  const double dataEnd = static_cast<double>(records) * header.recordDurationSeconds;
  report.openAnnotationsClosed = closeOpenAnnotations(annotations, dataEnd);
  report.annotationsAfterData = countAfter(annotations, dataEnd);
  std::size_t unwritable = 0;
  const std::vector<std::string> tals = talsFor(annotations, *start, unwritable);
  // Every record is visited, also after the last annotation is placed:
  // what an earlier completion put there from another list must go.
  std::size_t next = 0;
  for (std::uint64_t r = 0; r < records; ++r) {
    const std::uint64_t recordStart = firstRecord + r * header.bytesPerRecord;
    for (std::size_t a = 0; a < areas.size(); ++a) {
      const EdfSignalHeader& signal = header.signals[areas[a]];
      area.assign(signal.bytesInRecord, '\0');
      file.read(area.data(), area.size(), recordStart + signal.offsetInRecord);
      // A record whose time-keeping TAL is missing is damaged; what is put
      // after it would be read as that TAL.
      if (a == 0 && !timekeepingOnset(area)) {
        continue;
      }
      std::string rebuilt = clearedArea(area, a == 0);
      next += packTals(rebuilt, tals, next);
      if (rebuilt != area) {
        file.write(rebuilt.data(), rebuilt.size(), recordStart + signal.offsetInRecord);
      }
    }
  }
  report.annotationsWritten = next;
  report.annotationsLeftOut = unwritable + tals.size() - next;
}

}  // namespace

EdfFileState inspectEdfFile(int fd, const std::string& name) {
  const File file(fd, name);
  EdfFileState state;
  state.size = file.size();
  state.header = readHeader(file, name, state.size);
  const std::uint64_t data = state.size - state.header.headerBytes;
  state.complete =
      data % state.header.bytesPerRecord == 0 && state.header.records >= 0 &&
      static_cast<std::uint64_t>(state.header.records) == data / state.header.bytesPerRecord;
  return state;
}

EdfFinishReport finishEdfFile(int fd, const std::string& name, std::vector<Annotation> annotations,
                              AnnotationAreas areasMode) {
  const File file(fd, name);
  const EdfFileState state = inspectEdfFile(fd, name);
  const EdfHeader& header = state.header;
  EdfFinishReport report;
  const std::uint64_t data = state.size - header.headerBytes;
  const std::uint64_t records = data / header.bytesPerRecord;
  report.bytesCut = data % header.bytesPerRecord;
  if (records > 99999999) {
    throw OutputError(name + " holds " + std::to_string(records) +
                      " data records, more than its header can count");
  }
  report.records = static_cast<std::int64_t>(records);
  if (report.bytesCut > 0) {
    file.truncate(state.size - report.bytesCut);
  }
  if (header.records != report.records) {
    const std::string field = edfRecordsField(report.records);
    file.write(field.data(), field.size(), kEdfRecordsFieldOffset);
  }

  const std::vector<std::size_t> areas = header.annotationSignals();
  report.annotationSignals = areas.size();
  if (areasMode == AnnotationAreas::kKeep) {
    report.annotationsLeftOut = annotations.size();
  } else if (!areas.empty() && records > 0) {
    rebuildAnnotations(file, name, header, records, std::move(annotations), report);
  } else {
    report.annotationsLeftOut = annotations.size();
  }
  file.sync();
  return report;
}

}  // namespace bvhost
