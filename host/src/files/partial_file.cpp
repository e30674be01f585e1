#include "files/partial_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "files/file_paths.h"
#include "files/file_status.h"
#include "files/folder_sync.h"
#include "files/partial_name.h"

namespace bvhost {
namespace {

// The umask without changing it: umask() can only be read by setting it,
// which would race with any other thread creating a file meanwhile.
mode_t currentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

bool sameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::vector<std::string> partialsBeingWritten(const std::string& finalPath,
                                              const std::string& own) {
  const std::string folder = folderOf(finalPath);
  std::vector<std::string> found;
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) {
    return found;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const std::string path = joinPath(folder, entry->d_name);
    if (path == own || intendedPath(path) != finalPath) {
      continue;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_SH | LOCK_NB) != 0 &&
        errno == EWOULDBLOCK) {
      const long pid = flockHolder(info);
      found.push_back(path + (pid > 0 ? " (process " + std::to_string(pid) + ")" : ""));
    }
    ::close(fd);
  }
  ::closedir(listing);
  return found;
}

std::vector<PartialFile> claimOutputs(const std::vector<OutputFile>& outputs) {
  std::vector<PartialFile> partials;
  for (const auto& output : outputs) {
    partials.emplace_back(output.finalPath);
    // Looked for only once our own claim is visible: of two runs started
    // together, one at least sees the other.
    const auto others = partialsBeingWritten(output.finalPath, partials.back().path());
    if (!others.empty()) {
      throw OutputError("cannot write " + output.path + ": another bvhost run is writing it now, " +
                        "into " + others.front() + "; wait for it to end or choose another --out");
    }
  }
  return partials;
}

PartialFile::PartialFile(const std::string& finalPath) : finalPath_(finalPath) {
  int suffixLength = 0;
  std::string name = partialTemplate(finalPath, suffixLength);
  // Created exclusively (O_EXCL) and never opened by name again.
  fd_ = ::mkostemps(name.data(), suffixLength, O_CLOEXEC);
  if (fd_ < 0) {
    const int code = errno;
    throw OutputError("cannot create a file beside " + finalPath + ": " + std::strerror(code));
  }
  path_ = name;
  // Held for the whole run: repair and a second run on the same target see
  // that a recording is being written here.
  // Waited for, not tried: another run's check for a live recording may
  // hold a shared lock on it for a moment.
  int error = ::flock(fd_, LOCK_EX) == 0 ? 0 : errno;
  // mkstemps makes the file private (0600); a recording gets the
  // permissions any new file of the user would.
  if (error == 0 && ::fchmod(fd_, 0666 & ~currentUmask()) != 0) {
    error = errno;
  }
  if (error == 0) {
    error = syncFolder(folderOf(path_));
  }
  if (error != 0) {
    ::unlink(path_.c_str());
    release();
    throw OutputError("cannot prepare " + path_ + " for " + finalPath + ": " +
                      std::strerror(error));
  }
}

PartialFile::~PartialFile() {
  if (state_ == State::kPending) {
    discard();
  }
  release();
}

PartialFile::PartialFile(PartialFile&& other) noexcept
    : path_(std::move(other.path_)),
      finalPath_(std::move(other.finalPath_)),
      fd_(std::exchange(other.fd_, -1)),
      state_(std::exchange(other.state_, State::kGone)) {}

PartialFile& PartialFile::operator=(PartialFile&& other) noexcept {
  if (this != &other) {
    if (state_ == State::kPending) {
      discard();
    }
    release();
    path_ = std::move(other.path_);
    finalPath_ = std::move(other.finalPath_);
    fd_ = std::exchange(other.fd_, -1);
    state_ = std::exchange(other.state_, State::kGone);
  }
  return *this;
}

void PartialFile::release() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void PartialFile::checkInPlace() const {
  struct stat opened {};
  struct stat named {};
  if (::fstat(fd_, &opened) != 0) {
    throw OutputError("cannot check " + path_ + ": " + std::strerror(errno));
  }
  if (opened.st_nlink == 0) {
    throw OutputError(path_ + " was deleted while it was written");
  }
  if (::lstat(path_.c_str(), &named) != 0) {
    throw OutputError(path_ + " is gone from its name while it was written (" +
                      std::strerror(errno) + ")");
  }
  if (!sameInode(opened, named)) {
    throw OutputError(path_ + " was replaced by another file while it was written");
  }
}

bool PartialFile::inPlace() const noexcept {
  try {
    checkInPlace();
    return true;
  } catch (...) {
    return false;
  }
}

void PartialFile::commit() {
  if (state_ != State::kPending) {
    throw std::logic_error("commit of " + path_ + ", which is no longer pending");
  }
  // Kept until the rename succeeds, so a failure leaves the recording.
  state_ = State::kKept;
  // On the disk before it takes the target's name: a power loss must not
  // leave a target that names a file whose data never arrived.
  if (::fsync(fd_) != 0) {
    const int code = errno;
    throw OutputError("cannot flush " + path_ + " to disk: " + std::strerror(code) +
                      "; the recording stays there instead of " + finalPath_);
  }
  // Whoever can write in the folder could have put another file at the
  // partial name; only our own is moved over the target.
  checkInPlace();
  if (::rename(path_.c_str(), finalPath_.c_str()) != 0) {
    const int code = errno;
    throw OutputError("cannot move " + path_ + " over " + finalPath_ + ": " + std::strerror(code) +
                      "; the recording stays at " + path_);
  }
  state_ = State::kCommitted;
  struct stat opened {};
  struct stat named {};
  if (::fstat(fd_, &opened) == 0 &&
      (::lstat(finalPath_.c_str(), &named) != 0 || !sameInode(opened, named))) {
    throw OutputError(finalPath_ + " was replaced while the recording was moved there; the " +
                      "recording is not under that name");
  }
  if (const int code = syncFolder(folderOf(finalPath_)); code != 0) {
    throw OutputError(finalPath_ + " is complete, but its folder could not be flushed to disk (" +
                      std::strerror(code) + "), so a power loss may undo the move");
  }
}

void PartialFile::keep() {
  if (state_ == State::kPending) {
    state_ = State::kKept;
  }
}

void PartialFile::discard() noexcept {
  if (state_ == State::kPending || state_ == State::kKept) {
    // Only our own file: another one at its name is not ours to remove.
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd_, &opened) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
        sameInode(opened, named)) {
      ::unlink(path_.c_str());
    }
    state_ = State::kGone;
  }
}

}  // namespace bvhost
