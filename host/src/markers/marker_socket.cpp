#include "markers/marker_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bvhost {
namespace {

// "<name>-2" up to this, for recordings of files of one name at once.
constexpr int kNameTries = 99;
// Room kept in a socket's path for "-99".
constexpr std::size_t kNumberRoom = 3;
// A shorter name could not tell recordings apart.
constexpr std::size_t kShortestName = 8;

std::string errorText(int code) { return std::strerror(code); }

}  // namespace

MarkerSocketServer::MarkerSocketServer(MarkerInbox& inbox, const MarkerSocketOptions& options)
    : inbox_(inbox), options_(options) {
  std::string folder = runtimeMarkerFolder();
  std::string problem =
      folder.empty() ? "XDG_RUNTIME_DIR is not set to a folder" : preparePrivateFolder(folder);
  if (!problem.empty()) {
    if (options_.fallbackFolder.empty()) {
      throw MarkerSocketError("no folder for the marker socket: " + problem);
    }
    const std::string fallbackProblem = preparePrivateFolder(options_.fallbackFolder);
    if (!fallbackProblem.empty()) {
      throw MarkerSocketError("no folder for the marker socket: " + problem + "; " +
                              fallbackProblem);
    }
    folder = options_.fallbackFolder;
    while (folder.size() > 1 && folder.back() == '/') {
      folder.pop_back();
    }
  }
  bindUnique(folder, markerSocketName(options_.runName));
  try {
    thread_ = threadWithoutStopSignals([this] { run(); });
  } catch (...) {
    stop();
    throw;
  }
}

MarkerSocketServer::~MarkerSocketServer() { stop(); }

void MarkerSocketServer::bindUnique(const std::string& folder, const std::string& baseName) {
  const std::size_t extension = std::strlen(kMarkerSocketExtension);
  const std::size_t room = sizeof(sockaddr_un::sun_path) - 1;
  if (folder.size() + 1 + kShortestName + kNumberRoom + extension > room) {
    throw MarkerSocketError("cannot make a marker socket in " + folder +
                            ": its path is too long for a socket's");
  }
  const std::string base = baseName.substr(0, room - folder.size() - 1 - kNumberRoom - extension);

  const FolderLock lock(folder);
  for (int number = 1; number <= kNameTries; ++number) {
    const std::string name = number == 1 ? base : base + "-" + std::to_string(number);
    const std::string path = folder + "/" + name + kMarkerSocketExtension;
    const SocketState state = probeMarkerSocket(path);
    if (state == SocketState::kLive || state == SocketState::kOther) {
      continue;
    }
    if (state == SocketState::kStale && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
      continue;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      throw MarkerSocketError("cannot make a marker socket: " + errorText(errno));
    }
    sockaddr_un address{};
    socketAddressFor(path, address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      const int code = errno;
      ::close(fd);
      if (code == EADDRINUSE) {
        continue;
      }
      throw MarkerSocketError("cannot make the marker socket " + path + ": " + errorText(code));
    }
    struct stat info {};
    // The folder keeps others out already; the socket's own mode says so
    // too, whatever the umask made it.
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        ::lstat(path.c_str(), &info) != 0) {
      const int code = errno;
      ::close(fd);
      ::unlink(path.c_str());
      throw MarkerSocketError("cannot make the marker socket " + path + ": " + errorText(code));
    }
    folder_ = folder;
    name_ = name;
    path_ = path;
    listenFd_ = fd;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    return;
  }
  throw MarkerSocketError("cannot make a marker socket in " + folder + ": " + base + " to " + base +
                          "-" + std::to_string(kNameTries) + " are all taken");
}

void MarkerSocketServer::stop() {
  wake_.wake();
  if (thread_.joinable()) {
    thread_.join();
  }
  if (listenFd_ < 0) {
    return;
  }
  ::close(listenFd_);
  listenFd_ = -1;
  const FolderLock lock(folder_);
  struct stat info {};
  // Only our own: a server that found ours stale may have put its own there.
  if (::lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_) {
    ::unlink(path_.c_str());
  }
}

MarkerSocketCounts MarkerSocketServer::counts() const {
  return {connections_.load(std::memory_order_relaxed), lines_.load(std::memory_order_relaxed),
          closedIdle_.load(std::memory_order_relaxed), turnedAway_.load(std::memory_order_relaxed)};
}

}  // namespace bvhost
