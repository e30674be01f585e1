#include "files/output_target.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <utility>

#include "files/annotation_journal.h"
#include "files/folder_sync.h"
#include "files/output_error.h"
#include "files/partial_name.h"

namespace bvhost {
namespace {

std::string errorText(int code) { return std::strerror(code); }

// "dir/a.bdf" splits into "dir" and "a.bdf", "a.bdf" into "." and "a.bdf".
std::pair<std::string, std::string> splitFolder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) {
    return {".", path};
  }
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string joinFolder(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::optional<std::string> realPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) {
    return std::nullopt;
  }
  return std::string(resolved);
}

std::string fileKind(mode_t mode) {
  if (S_ISFIFO(mode)) {
    return "a FIFO";
  }
  if (S_ISCHR(mode)) {
    return "a character device";
  }
  if (S_ISBLK(mode)) {
    return "a block device";
  }
  if (S_ISSOCK(mode)) {
    return "a socket";
  }
  return "a special file";
}

std::string linkTarget(const std::string& link) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
  return length < 0 ? std::string("?") : std::string(target, static_cast<std::size_t>(length));
}

// The folder a new file will be created in must exist; it is reported as
// the user named it.
void checkFolderExists(const std::string& given, const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    const int code = errno;
    if (code == ENOENT) {
      throw OutputError("cannot write " + given + ": folder " + folder + " does not exist");
    }
    if (code == ENOTDIR) {
      throw OutputError("cannot write " + given + ": " + folder + " is not a folder");
    }
    throw OutputError("cannot write " + given + ": cannot reach folder " + folder + ": " +
                      errorText(code));
  }
  if (!S_ISDIR(info.st_mode)) {
    throw OutputError("cannot write " + given + ": " + folder + " is not a folder");
  }
}

// While it is written a recording carries a longer name (and an EDF+ one a
// journal with a longer one still), which must fit the file system too: a
// name that does not would fail only after connecting and starting.
void checkNameLength(const std::string& given, const std::string& finalPath) {
  const auto [folder, name] = splitFolder(finalPath);
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  if (limit <= 0) {
    return;
  }
  int suffixLength = 0;
  const std::string longest =
      splitFolder(journalPathFor(partialTemplate(finalPath, suffixLength))).second;
  if (longest.size() > static_cast<std::size_t>(limit)) {
    throw OutputError("cannot write " + given + ": its name is too long for the file system (" +
                      std::to_string(name.size()) + " characters; while recording bvhost adds " +
                      std::to_string(longest.size() - name.size()) + " to it, and names there " +
                      "hold at most " + std::to_string(limit) + ")");
  }
}

struct CheckedOutput {
  std::string finalPath;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
};

CheckedOutput checkOne(const std::string& given) {
  struct stat info {};
  if (::stat(given.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw OutputError(given + " is a directory");
  }

  CheckedOutput checked;
  // Where the partial file will be created and renamed, so what must let
  // us add entries; named as the user gave it where it is theirs.
  std::string shownFolder;
  struct stat linkInfo {};
  if (::lstat(given.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    const auto target = realPath(given);
    if (!target) {
      const int code = errno;
      if (code == ENOENT) {
        throw OutputError(given + " is a symbolic link to " + linkTarget(given) +
                          ", which does not exist; give the file itself");
      }
      throw OutputError("cannot follow the symbolic link " + given + ": " + errorText(code));
    }
    checked.finalPath = *target;
    shownFolder = splitFolder(*target).first;
  } else {
    const auto [folder, name] = splitFolder(given);
    checkFolderExists(given, folder);
    const auto realFolder = realPath(folder);
    if (!realFolder) {
      const int code = errno;
      throw OutputError("cannot write " + given + ": cannot resolve folder " + folder + ": " +
                        errorText(code));
    }
    checked.finalPath = joinFolder(*realFolder, name);
    shownFolder = folder;
  }

  if (::stat(checked.finalPath.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) {
      throw OutputError(given + " is " + fileKind(info.st_mode) + ", not a regular file");
    }
    checked.exists = true;
    checked.device = info.st_dev;
    checked.inode = info.st_ino;
  } else if (const int code = errno; code != ENOENT) {
    throw OutputError("cannot write " + given + ": " + errorText(code));
  }

  checkNameLength(given, checked.finalPath);
  if (::access(splitFolder(checked.finalPath).first.c_str(), W_OK | X_OK) != 0) {
    const int code = errno;
    throw OutputError("cannot write " + given + ": folder " + shownFolder + " is not writable (" +
                      errorText(code) + ")");
  }
  return checked;
}

bool sameFile(const CheckedOutput& a, const CheckedOutput& b) {
  if (a.finalPath == b.finalPath) {
    return true;
  }
  return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

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

// The process holding a lock on the file, as /proc/locks tells; 0 when it
// does not say.
long lockHolder(const struct stat& file) {
  std::ifstream locks("/proc/locks");
  std::string line;
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                static_cast<unsigned long long>(file.st_ino));
  while (std::getline(locks, line)) {
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"
    char kind[16] = {};
    long pid = 0;
    char where[64] = {};
    if (std::sscanf(line.c_str(), "%*s %15s %*s %*s %ld %63s", kind, &pid, where) == 3 &&
        std::strcmp(where, wanted) == 0) {
      return pid;
    }
  }
  return 0;
}

}  // namespace

std::vector<std::string> partialsBeingWritten(const std::string& finalPath,
                                              const std::string& own) {
  const auto [folder, name] = splitFolder(finalPath);
  std::vector<std::string> found;
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) {
    return found;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const std::string path = joinFolder(folder, entry->d_name);
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
      const long pid = lockHolder(info);
      found.push_back(path + (pid > 0 ? " (process " + std::to_string(pid) + ")" : ""));
    }
    ::close(fd);
  }
  ::closedir(listing);
  return found;
}

void checkOutputs(std::vector<OutputFile>& outputs) {
  std::vector<CheckedOutput> checked;
  checked.reserve(outputs.size());
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    checked.push_back(checkOne(outputs[i].path));
    for (std::size_t earlier = 0; earlier < i; ++earlier) {
      if (sameFile(checked[earlier], checked[i])) {
        throw OutputError("--out " + outputs[earlier].path + " and --out " + outputs[i].path +
                          " name the same file");
      }
    }
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    outputs[i].finalPath = checked[i].finalPath;
  }
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
    throw OutputError("cannot create a file beside " + finalPath + ": " + errorText(code));
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
    error = syncFolder(splitFolder(path_).first);
  }
  if (error != 0) {
    ::unlink(path_.c_str());
    release();
    throw OutputError("cannot prepare " + path_ + " for " + finalPath + ": " + errorText(error));
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
    throw OutputError("cannot check " + path_ + ": " + errorText(errno));
  }
  if (opened.st_nlink == 0) {
    throw OutputError(path_ + " was deleted while it was written");
  }
  if (::lstat(path_.c_str(), &named) != 0) {
    throw OutputError(path_ + " is gone from its name while it was written (" + errorText(errno) +
                      ")");
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
    throw OutputError("cannot flush " + path_ + " to disk: " + errorText(code) +
                      "; the recording stays there instead of " + finalPath_);
  }
  // Whoever can write in the folder could have put another file at the
  // partial name; only our own is moved over the target.
  checkInPlace();
  if (::rename(path_.c_str(), finalPath_.c_str()) != 0) {
    const int code = errno;
    throw OutputError("cannot move " + path_ + " over " + finalPath_ + ": " + errorText(code) +
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
  if (const int code = syncFolder(splitFolder(finalPath_).first); code != 0) {
    throw OutputError(finalPath_ + " is complete, but its folder could not be flushed to disk (" +
                      errorText(code) + "), so a power loss may undo the move");
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
