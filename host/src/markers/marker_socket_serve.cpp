#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <vector>

#include "markers/marker_socket.h"

namespace bvhost {
namespace {

// Replies a client has not taken yet, past which it is read no more until
// it takes them: a sender that never reads holds only this much of bvhost.
constexpr std::size_t kMaxUnsentReplies = 64 * 1024;
constexpr std::size_t kReadChunk = 16 * 1024;
// How long the listener rests when the system has no descriptor to give.
constexpr std::chrono::milliseconds kListenPause{200};

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

// What the server's thread holds while it serves: its clients go when it
// ends, so stop() closes them all by ending it.
class MarkerSocketServer::Serving {
 public:
  explicit Serving(MarkerSocketServer& server) : server_(server) {}
  Serving(const Serving&) = delete;
  Serving& operator=(const Serving&) = delete;

  void run();

 private:
  void dropFinishedClients(MarkerClock::time_point now);
  int watch(MarkerClock::time_point now);
  void serveClients();
  void acceptClients();
  void receive(Client& client);
  void answer(Client& client, const MarkerReply& reply);
  static void flush(Client& client, MarkerClock::time_point now);

  MarkerSocketServer& server_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<pollfd> polled_;
  char buffer_[kReadChunk];
  // Out of descriptors, the listener stays readable and accepting fails;
  // it is left alone for a while rather than polled in a busy loop.
  MarkerClock::time_point listenAgain_{};
};

void MarkerSocketServer::run() {
  Serving serving(*this);
  serving.run();
}

void MarkerSocketServer::Serving::run() {
  for (;;) {
    const MarkerClock::time_point now = MarkerClock::now();
    dropFinishedClients(now);
    const int timeout = watch(now);
    if (::poll(polled_.data(), polled_.size(), timeout) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    if (polled_[0].revents != 0) {
      break;
    }
    serveClients();
    if ((polled_[1].revents & POLLIN) != 0) {
      acceptClients();
    }
  }
}

void MarkerSocketServer::Serving::dropFinishedClients(MarkerClock::time_point now) {
  std::erase_if(clients_, [&](const std::unique_ptr<Client>& client) {
    if (now - client->lastProgress >= server_.options_.idleTimeout) {
      server_.closedIdle_.fetch_add(1, std::memory_order_relaxed);
      return true;
    }
    return client->failed ||
           ((client->readDone || client->closeAfterReplies) && client->unsent() == 0);
  });
}

// Sets out what poll() waits on, in this order: the wake pipe, the
// listener, each client. Returns how long it may wait, -1 for as long as it
// takes: until the listener is taken up again or a client falls idle.
int MarkerSocketServer::Serving::watch(MarkerClock::time_point now) {
  int timeout = -1;
  const auto wakeBy = [&](MarkerClock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now);
    const int until = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
    timeout = timeout < 0 ? until : std::min(timeout, until);
  };
  const bool listening = now >= listenAgain_;
  if (!listening) {
    wakeBy(listenAgain_);
  }
  polled_.assign({{server_.wake_.readEnd(), POLLIN, 0},
                  {server_.listenFd_, static_cast<short>(listening ? POLLIN : 0), 0}});
  for (const auto& client : clients_) {
    short events = 0;
    if (!client->readDone && !client->closeAfterReplies && client->unsent() < kMaxUnsentReplies) {
      events |= POLLIN;
    }
    if (client->unsent() > 0) {
      events |= POLLOUT;
    }
    polled_.push_back({client->fd, events, 0});
    wakeBy(client->lastProgress + server_.options_.idleTimeout);
  }
  return timeout;
}

void MarkerSocketServer::Serving::serveClients() {
  // New clients join only after this, so polled_[i + 2] is still clients_[i].
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    Client& client = *clients_[i];
    const short revents = polled_[i + 2].revents;
    if ((revents & (POLLERR | POLLNVAL)) != 0) {
      client.failed = true;
    } else if ((revents & (POLLIN | POLLHUP)) != 0 && (polled_[i + 2].events & POLLIN) != 0) {
      receive(client);
    } else if ((revents & (POLLOUT | POLLHUP)) != 0) {
      flush(client, MarkerClock::now());
    }
  }
}

void MarkerSocketServer::Serving::acceptClients() {
  for (;;) {
    const int fd = ::accept4(server_.listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        listenAgain_ = MarkerClock::now() + kListenPause;
      }
      break;
    }
    server_.connections_.fetch_add(1, std::memory_order_relaxed);
    if (clients_.size() >= server_.options_.maxClients) {
      constexpr std::string_view kBusy = "refused: too many connections\n";
      [[maybe_unused]] const ssize_t put =
          ::send(fd, kBusy.data(), kBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(fd);
      server_.turnedAway_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    clients_.push_back(
        std::make_unique<Client>(fd, server_.options_.maxLineBytes, MarkerClock::now()));
  }
}

void MarkerSocketServer::Serving::receive(Client& client) {
  const ssize_t got = ::recv(client.fd, buffer_, sizeof buffer_, MSG_DONTWAIT);
  // Before any line is looked at: the time the marker reached bvhost.
  const MarkerClock::time_point received = MarkerClock::now();
  const auto each = [&](std::string_view line) {
    if (!client.closeAfterReplies) {
      answer(client, server_.inbox_.offer(line, received));
    }
  };
  if (got > 0) {
    client.lastProgress = received;
    client.lines.feed(std::string_view(buffer_, static_cast<std::size_t>(got)), each, [&] {
      if (!client.closeAfterReplies) {
        answer(client, server_.inbox_.refuseLongLine(server_.options_.maxLineBytes));
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
}

void MarkerSocketServer::Serving::answer(Client& client, const MarkerReply& reply) {
  client.out += reply.line;
  client.out += '\n';
  server_.lines_.fetch_add(1, std::memory_order_relaxed);
}

void MarkerSocketServer::Serving::flush(Client& client, MarkerClock::time_point now) {
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
}

}  // namespace bvhost
