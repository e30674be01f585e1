#include "output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
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

#include "folder_sync.h"
#include "partial_name.h"

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

int syncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  const int result = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return result;
}

}  // namespace

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

PartialFile::PartialFile(const std::string& finalPath) : finalPath_(finalPath) {
  int suffixLength = 0;
  std::string name = partialTemplate(finalPath, suffixLength);
  const int fd = ::mkstemps(name.data(), suffixLength);
  if (fd < 0) {
    const int code = errno;
    throw OutputError("cannot create a file beside " + finalPath + ": " + errorText(code));
  }
  path_ = name;
  // mkstemps makes the file private (0600); a recording gets the
  // permissions any new file of the user would.
  const int chmodError = ::fchmod(fd, 0666 & ~currentUmask()) == 0 ? 0 : errno;
  ::close(fd);
  const int syncError = chmodError != 0 ? 0 : syncFolder(splitFolder(path_).first);
  if (chmodError != 0 || syncError != 0) {
    ::unlink(path_.c_str());
    throw OutputError("cannot prepare " + path_ + " for " + finalPath + ": " +
                      errorText(chmodError != 0 ? chmodError : syncError));
  }
}

PartialFile::~PartialFile() {
  if (state_ == State::kPending) {
    discard();
  }
}

PartialFile::PartialFile(PartialFile&& other) noexcept
    : path_(std::move(other.path_)),
      finalPath_(std::move(other.finalPath_)),
      state_(std::exchange(other.state_, State::kGone)) {}

PartialFile& PartialFile::operator=(PartialFile&& other) noexcept {
  if (this != &other) {
    if (state_ == State::kPending) {
      discard();
    }
    path_ = std::move(other.path_);
    finalPath_ = std::move(other.finalPath_);
    state_ = std::exchange(other.state_, State::kGone);
  }
  return *this;
}

void PartialFile::commit() {
  if (state_ != State::kPending) {
    throw std::logic_error("commit of " + path_ + ", which is no longer pending");
  }
  // Kept until the rename succeeds, so a failure leaves the recording.
  state_ = State::kKept;
  if (const int code = syncFile(path_); code != 0) {
    throw OutputError("cannot flush " + path_ + " to disk: " + errorText(code) +
                      "; the recording stays there instead of " + finalPath_);
  }
  if (::rename(path_.c_str(), finalPath_.c_str()) != 0) {
    const int code = errno;
    throw OutputError("cannot move " + path_ + " over " + finalPath_ + ": " + errorText(code) +
                      "; the recording stays at " + path_);
  }
  state_ = State::kCommitted;
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
    ::unlink(path_.c_str());
    state_ = State::kGone;
  }
}

}  // namespace bvhost
