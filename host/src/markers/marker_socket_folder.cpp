#include "markers/marker_socket_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bvhost {
namespace {

std::string errorText(int code) { return std::strerror(code); }

std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

FolderLock::FolderLock(const std::string& folder)
    : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (fd_ >= 0) {
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool socketAddressFor(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string runtimeMarkerFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/') {
    return "";
  }
  std::string folder = runtime;
  while (folder.size() > 1 && folder.back() == '/') {
    folder.pop_back();
  }
  return folder + "/bvhost";
}

std::string preparePrivateFolder(const std::string& folder) {
  const bool made = ::mkdir(folder.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) {
    return "cannot make " + folder + ": " + errorText(errno);
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int code = errno;
    return folder + (code == ENOTDIR || code == ELOOP ? " is no folder" : ": " + errorText(code));
  }
  struct stat info {};
  std::string problem;
  if (::fstat(fd, &info) != 0) {
    problem = "cannot look at " + folder + ": " + errorText(errno);
  } else if (info.st_uid != ::geteuid()) {
    problem = folder + " belongs to another user";
  } else if (made && (info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
    // The umask may have taken the owner's own rights.
    problem = "cannot make " + folder + " private: " + errorText(errno);
  } else if (!made && (info.st_mode & 0077) != 0) {
    problem = folder + " can be reached by other users (mode " + modeText(info.st_mode) + ")";
  } else if (!made && (info.st_mode & 0700) != 0700) {
    problem = folder + " is not open to its owner (mode " + modeText(info.st_mode) + ")";
  }
  ::close(fd);
  return problem;
}

std::string markerSocketName(const std::string& runName) {
  std::string name = runName.substr(runName.rfind('/') + 1);
  for (char& c : name) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-' || c == '+';
    if (!safe) {
      c = '_';
    }
  }
  if (name.empty()) {
    return "bvhost";
  }
  if (name.front() == '.') {
    name.front() = '_';
  }
  return name;
}

SocketState probeMarkerSocket(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? SocketState::kAbsent : SocketState::kOther;
  }
  sockaddr_un address{};
  if (!S_ISSOCK(info.st_mode) || !socketAddressFor(path, address)) {
    return SocketState::kOther;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return SocketState::kOther;
  }
  SocketState state = SocketState::kOther;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    state = SocketState::kLive;
  } else if (errno == EAGAIN || errno == EINPROGRESS) {
    // Its backlog is full: busy, but there.
    state = SocketState::kLive;
  } else if (errno == ECONNREFUSED) {
    state = SocketState::kStale;
  } else if (errno == ENOENT) {
    state = SocketState::kAbsent;
  }
  ::close(fd);
  return state;
}

}  // namespace bvhost
