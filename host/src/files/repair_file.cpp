#include "files/repair_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/posix_io.h"
#include "files/csv_format.h"
#include "files/edf_header.h"
#include "files/file_status.h"
#include "files/output_error.h"

namespace bvhost {
namespace {

// Enough for bvhost's CSV first line with the longest plug-in name and
// version, and the header row after it.
constexpr std::size_t kRecognitionBytes = 4096;

}  // namespace

RepairFile::RepairFile(const std::string& path) : path_(path) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) {
    throw OutputError("cannot open " + path + ": " + std::strerror(errno));
  }
  // Judged before opening: opening a device or a FIFO can itself do
  // something, or wait.
  if (!S_ISREG(link.st_mode)) {
    throw OutputError("cannot repair " + path + ": it is " + fileKindText(link.st_mode) +
                      ", not a regular file" +
                      (S_ISLNK(link.st_mode) ? "; give the file itself" : ""));
  }
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  fd_ = ::open(path.c_str(), O_RDWR | kFlags);
  if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    // Enough to find that nothing needs doing.
    writeError_ = errno;
    fd_ = ::open(path.c_str(), O_RDONLY | kFlags);
  }
  if (fd_ < 0) {
    throw OutputError("cannot open " + path + ": " + std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd_);
    throw OutputError("cannot repair " + path + ": it is no regular file");
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    ::close(fd_);
    if (code == EWOULDBLOCK) {
      const long pid = flockHolder(status);
      throw OutputError("cannot repair " + path + ": a running bvhost" +
                        (pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string()) +
                        " is writing it; it completes the file itself when its run ends");
    }
    throw OutputError("cannot lock " + path + ": " + std::strerror(code));
  }
}

RepairFile::~RepairFile() { ::close(fd_); }

void RepairFile::requireWritable() const {
  if (writeError_ != 0) {
    throw OutputError("cannot repair " + path_ + ": it cannot be opened for writing (" +
                      std::strerror(writeError_) + ")");
  }
}

RecordingKind RepairFile::kind() const {
  std::string start(kRecognitionBytes, '\0');
  std::size_t got = 0;
  if (const int error = readUpTo(fd_, start.data(), start.size(), 0, got); error != 0) {
    throw OutputError("cannot read " + path_ + ": " + std::strerror(error));
  }
  start.resize(got);
  if (start.empty()) {
    throw OutputError(path_ + " is empty: the run ended before anything was written to it");
  }
  if (hasEdfVersion(start)) {
    return RecordingKind::Edf;
  }
  if (beginsAsBvhostCsv(start)) {
    return RecordingKind::Csv;
  }
  throw OutputError(path_ +
                    " is no recording bvhost writes: it begins neither with an EDF or BDF "
                    "header nor with bvhost's CSV first line and header row");
}

std::uint64_t RepairFile::size() const {
  struct stat status {};
  if (::fstat(fd_, &status) != 0) {
    throw OutputError("cannot read the size of " + path_ + ": " + std::strerror(errno));
  }
  return static_cast<std::uint64_t>(status.st_size);
}

bool RepairFile::endsWithLineBreak() const {
  const std::uint64_t size = this->size();
  char last = 0;
  std::size_t got = 0;
  return size > 0 && readUpTo(fd_, &last, 1, size - 1, got) == 0 && got == 1 && last == '\n';
}

}  // namespace bvhost
