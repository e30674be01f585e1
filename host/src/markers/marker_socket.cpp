#include "markers/marker_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace bvhost {
namespace {

// Replies a client has not taken yet, past which it is read no more until
// it takes them: a sender that never reads holds only this much of bvhost.
constexpr std::size_t kMaxUnsentReplies = 64 * 1024;
constexpr std::size_t kReadChunk = 16 * 1024;
// How long the listener rests when the system has no descriptor to give.
constexpr std::chrono::milliseconds kListenPause{200};
// "<name>-2" up to this, for recordings of files of one name at once.
constexpr int kNameTries = 99;
// Room kept in a socket's path for "-99".
constexpr std::size_t kNumberRoom = 3;
// A shorter name could not tell recordings apart.
constexpr std::size_t kShortestName = 8;

std::string errorText(int code) { return std::strerror(code); }

}  // namespace

struct MarkerSocketServer::Client {
  Client(int descriptor, std::size_t maxLineBytes, MarkerClock::time_point now)
      : fd(descriptor), lines(maxLineBytes), lastProgress(now) {}
  ~Client() { ::close(fd); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  std::size_t unsent() const { return out.size() - sent; }

  int fd;
  MarkerLines lines;
  std::string out;
  std::size_t sent = 0;
  MarkerClock::time_point lastProgress;
  // The client has sent all it will.
  bool readDone = false;
  // A line too long to hold: what follows cannot be told apart from the
  // rest of it, so nothing more is read and the client goes once told.
  bool closeAfterReplies = false;
  bool failed = false;
};

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

void MarkerSocketServer::run() {
  std::vector<std::unique_ptr<Client>> clients;
  std::vector<pollfd> polled;
  char buffer[kReadChunk];

  const auto answer = [this](Client& client, const MarkerReply& reply) {
    client.out += reply.line;
    client.out += '\n';
    lines_.fetch_add(1, std::memory_order_relaxed);
  };
  const auto flush = [](Client& client, MarkerClock::time_point now) {
    while (client.unsent() > 0) {
      const ssize_t put = ::send(client.fd, client.out.data() + client.sent, client.unsent(),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
      if (put < 0) {
        client.failed = errno != EAGAIN && errno != EINTR;
        return;
      }
      client.sent += static_cast<std::size_t>(put);
      client.lastProgress = now;
    }
    client.out.clear();
    client.sent = 0;
  };
  const auto receive = [&](Client& client) {
    const ssize_t got = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    // Before any line is looked at: the time the marker reached bvhost.
    const MarkerClock::time_point received = MarkerClock::now();
    const auto each = [&](std::string_view line) {
      if (!client.closeAfterReplies) {
        answer(client, inbox_.offer(line, received));
      }
    };
    if (got > 0) {
      client.lastProgress = received;
      client.lines.feed(std::string_view(buffer, static_cast<std::size_t>(got)), each, [&] {
        if (!client.closeAfterReplies) {
          answer(client, inbox_.refuseLongLine(options_.maxLineBytes));
          client.closeAfterReplies = true;
        }
      });
    } else if (got == 0) {
      client.readDone = true;
      client.lines.finish(each);
    } else if (errno != EAGAIN && errno != EINTR) {
      client.failed = true;
    }
    flush(client, received);
  };

  // Out of descriptors, the listener stays readable and accepting fails;
  // it is left alone for a while rather than polled in a busy loop.
  MarkerClock::time_point listenAgain{};

  for (;;) {
    const MarkerClock::time_point now = MarkerClock::now();
    int timeout = -1;
    const auto wakeBy = [&](MarkerClock::time_point when) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now);
      const int until = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
      timeout = timeout < 0 ? until : std::min(timeout, until);
    };
    std::erase_if(clients, [&](const std::unique_ptr<Client>& client) {
      if (now - client->lastProgress >= options_.idleTimeout) {
        closedIdle_.fetch_add(1, std::memory_order_relaxed);
        return true;
      }
      return client->failed ||
             ((client->readDone || client->closeAfterReplies) && client->unsent() == 0);
    });
    const bool listening = now >= listenAgain;
    if (!listening) {
      wakeBy(listenAgain);
    }
    polled.assign(
        {{wake_.readEnd(), POLLIN, 0}, {listenFd_, static_cast<short>(listening ? POLLIN : 0), 0}});
    for (const auto& client : clients) {
      short events = 0;
      if (!client->readDone && !client->closeAfterReplies && client->unsent() < kMaxUnsentReplies) {
        events |= POLLIN;
      }
      if (client->unsent() > 0) {
        events |= POLLOUT;
      }
      polled.push_back({client->fd, events, 0});
      wakeBy(client->lastProgress + options_.idleTimeout);
    }
    if (::poll(polled.data(), polled.size(), timeout) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    if (polled[0].revents != 0) {
      break;
    }
    // New clients join only after this, so polled[i + 2] is still clients[i].
    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& client = *clients[i];
      const short revents = polled[i + 2].revents;
      if ((revents & (POLLERR | POLLNVAL)) != 0) {
        client.failed = true;
      } else if ((revents & (POLLIN | POLLHUP)) != 0 && (polled[i + 2].events & POLLIN) != 0) {
        receive(client);
      } else if ((revents & (POLLOUT | POLLHUP)) != 0) {
        flush(client, MarkerClock::now());
      }
    }
    if ((polled[1].revents & POLLIN) != 0) {
      for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
          if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            listenAgain = MarkerClock::now() + kListenPause;
          }
          break;
        }
        connections_.fetch_add(1, std::memory_order_relaxed);
        if (clients.size() >= options_.maxClients) {
          constexpr std::string_view kBusy = "refused: too many connections\n";
          [[maybe_unused]] const ssize_t put =
              ::send(fd, kBusy.data(), kBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
          ::close(fd);
          turnedAway_.fetch_add(1, std::memory_order_relaxed);
          continue;
        }
        clients.push_back(std::make_unique<Client>(fd, options_.maxLineBytes, MarkerClock::now()));
      }
    }
  }
}

}  // namespace bvhost
