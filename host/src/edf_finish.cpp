#include "edf_finish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "edf_annotations.h"
#include "edf_header.h"
#include "sample_writer.h"

namespace bvhost {
namespace {

class File {
 public:
  explicit File(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
      fail("cannot open");
    }
  }
  ~File() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  [[noreturn]] void fail(const std::string& doing) const {
    throw OutputError(doing + " " + path_ + ": " + std::strerror(errno));
  }

  std::uint64_t size() const {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
      fail("cannot read the size of");
    }
    return static_cast<std::uint64_t>(status.st_size);
  }

  // Short reads count as failures: the caller asked only for bytes the
  // file's size says are there.
  void read(char* data, std::size_t size, std::uint64_t offset) const {
    while (size > 0) {
      const ssize_t got = ::pread(fd_, data, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        if (got == 0) {
          errno = EIO;
        }
        fail("cannot read");
      }
      data += got;
      size -= static_cast<std::size_t>(got);
      offset += static_cast<std::uint64_t>(got);
    }
  }

  void write(const char* data, std::size_t size, std::uint64_t offset) const {
    while (size > 0) {
      const ssize_t put = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (put < 0 && errno == EINTR) {
        continue;
      }
      if (put <= 0) {
        if (put == 0) {
          errno = EIO;
        }
        fail("cannot write");
      }
      data += put;
      size -= static_cast<std::size_t>(put);
      offset += static_cast<std::uint64_t>(put);
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

  void close() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
      fail("cannot close");
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
};

EdfHeader readHeader(const File& file, const std::string& path, std::uint64_t size) {
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
    throw OutputError(path + " is no EDF or BDF file: " + error.what());
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

}  // namespace

EdfFinishReport finishEdfFile(const std::string& path, const std::vector<Annotation>& annotations) {
  File file(path);
  const std::uint64_t size = file.size();
  const EdfHeader header = readHeader(file, path, size);
  EdfFinishReport report;
  const std::uint64_t data = size - header.headerBytes;
  const std::uint64_t records = data / header.bytesPerRecord;
  report.bytesCut = data % header.bytesPerRecord;
  if (records > 99999999) {
    throw OutputError(path + " holds " + std::to_string(records) +
                      " data records, more than its header can count");
  }
  report.records = static_cast<std::int64_t>(records);
  if (report.bytesCut > 0) {
    file.truncate(size - report.bytesCut);
  }
  const std::string field = edfRecordsField(report.records);
  file.write(field.data(), field.size(), kEdfRecordsFieldOffset);

  const std::vector<std::size_t> areas = header.annotationSignals();
  if (!annotations.empty() && !areas.empty() && records > 0) {
    const std::uint64_t firstRecord = header.headerBytes;
    const EdfSignalHeader& keeper = header.signals[areas.front()];
    std::string area(keeper.bytesInRecord, '\0');
    file.read(area.data(), area.size(), firstRecord + keeper.offsetInRecord);
    const auto start = timekeepingOnset(area);
    if (!start) {
      throw OutputError(path +
                        " is no EDF+ or BDF+ file: its first data record begins with no "
                        "time-keeping annotation");
    }
    std::size_t unwritable = 0;
    const std::vector<std::string> tals = talsFor(annotations, *start, unwritable);
    report.annotationsLeftOut = unwritable;
    std::size_t next = 0;
    for (std::uint64_t r = 0; r < records && next < tals.size(); ++r) {
      const std::uint64_t recordStart = firstRecord + r * header.bytesPerRecord;
      for (std::size_t a = 0; a < areas.size() && next < tals.size(); ++a) {
        const EdfSignalHeader& signal = header.signals[areas[a]];
        area.assign(signal.bytesInRecord, '\0');
        file.read(area.data(), area.size(), recordStart + signal.offsetInRecord);
        // A record whose time-keeping TAL is missing is damaged; what is put
        // after it would be read as that TAL.
        if (a == 0 && !timekeepingOnset(area)) {
          continue;
        }
        const std::size_t packed = packTals(area, tals, next);
        if (packed > 0) {
          file.write(area.data(), area.size(), recordStart + signal.offsetInRecord);
          next += packed;
        }
      }
    }
    report.annotationsWritten = next;
    report.annotationsLeftOut += tals.size() - next;
  } else {
    report.annotationsLeftOut = annotations.size();
  }
  file.sync();
  file.close();
  return report;
}

}  // namespace bvhost
