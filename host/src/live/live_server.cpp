#include "live/live_server.h"

#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/posix_io.h"
#include "base/quiet_thread.h"
#include "live/live_hub.h"
#include "live/live_page.h"

namespace bvhost {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A page that stops reading is cut off after this long, which also bounds
// how long the end of a run waits for it.
constexpr auto kWriteTimeout = 2s;
// A connection that sends nothing (browsers open some ahead, in case) is
// closed after this long, and after a request, one kept alive too.
constexpr int kIdleSeconds = 2;
// The whole head of a request must arrive within this long of its first
// byte: one sent a byte at a time would otherwise hold a thread for good.
constexpr auto kRequestTimeout = 4s;
// Each open page holds one thread for its stream; these others serve the
// page itself, refusals and the connections that sit idle or send slowly,
// each of which gives its thread back within the timeouts above.
constexpr std::size_t kOtherThreads = 36;
// Waits are cut into slices this long, so a server told to stop does not
// wait out an idle connection.
constexpr auto kSlice = 50ms;

// Whether `events` came on `socket` before `deadline`; false too once the
// server stops listening.
bool await(int socket, short events, Clock::time_point deadline,
           const std::atomic<socket_t>& listening) {
  while (listening != INVALID_SOCKET) {
    const auto now = Clock::now();
    const bool lastSlice = deadline - now <= kSlice;
    pollfd entry{socket, events, 0};
    const int ready = pollUntil(entry, lastSlice ? deadline : now + kSlice);
    if (ready != 0 || lastSlice) {
      return ready > 0;
    }
  }
  return false;
}

// One connection as cpp-httplib reads and writes it, with the deadline for
// a request's head that its own stream lacks: its timeouts count from each
// byte, not from the first.
class Connection : public httplib::Stream {
 public:
  Connection(int socket, const std::atomic<socket_t>& listening)
      : socket_(socket), listening_(listening) {}

  // Waits up to the idle timeout for a request to begin, and if one does,
  // gives its head until the request deadline.
  bool awaitRequest() {
    if (start_ == end_ &&
        !await(socket_, POLLIN, Clock::now() + std::chrono::seconds(kIdleSeconds), listening_)) {
      return false;
    }
    readDeadline_ = Clock::now() + kRequestTimeout;
    return true;
  }

  // A request that did not arrive in time is answered with a 400 by
  // cpp-httplib, which would then read what follows as the next one: a
  // slow sender would keep its thread for a timeout per request.
  bool failed() const { return failed_; }

  bool is_readable() const override {
    return start_ != end_ || await(socket_, POLLIN, readDeadline_, listening_);
  }
  bool is_writable() const override {
    return await(socket_, POLLOUT, Clock::now() + kWriteTimeout, listening_);
  }

  ssize_t read(char* data, std::size_t size) override {
    if (start_ == end_) {
      if (!is_readable()) {
        failed_ = true;
        return -1;
      }
      const ssize_t got = ::recv(socket_, buffer_, sizeof buffer_, 0);
      if (got <= 0) {
        return got;
      }
      start_ = 0;
      end_ = static_cast<std::size_t>(got);
    }
    const std::size_t taken = std::min(size, end_ - start_);
    std::memcpy(data, buffer_ + start_, taken);
    start_ += taken;
    return static_cast<ssize_t>(taken);
  }

  ssize_t write(const char* data, std::size_t size) override {
    return is_writable() ? ::send(socket_, data, size, MSG_NOSIGNAL) : -1;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    address(::getpeername, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    address(::getsockname, ip, port);
  }
  socket_t socket() const override { return socket_; }

 private:
  void address(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    sockaddr_storage where{};
    socklen_t length = sizeof where;
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (get(socket_, reinterpret_cast<sockaddr*>(&where), &length) == 0 &&
        getnameinfo(reinterpret_cast<sockaddr*>(&where), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
      ip = host;
      port = std::atoi(service);
    }
  }

  const int socket_;
  const std::atomic<socket_t>& listening_;
  Clock::time_point readDeadline_ = Clock::now();
  bool failed_ = false;
  char buffer_[4096];
  std::size_t start_ = 0;
  std::size_t end_ = 0;
};

}  // namespace

// cpp-httplib's server with its connections served by Connection.
class LiveServer::Server : public httplib::Server {
 public:
  // Decided from the address bound, not the one asked for: a name given to
  // --listen may resolve anywhere.
  bool boundToLoopback() const {
    sockaddr_storage where{};
    socklen_t length = sizeof where;
    if (getsockname(svr_sock_, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
      return false;
    }
    if (where.ss_family == AF_INET) {
      const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(where);
      return (ntohl(ipv4.sin_addr.s_addr) >> 24) == 127;
    }
    const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(where).sin6_addr;
    return where.ss_family == AF_INET6 &&
           (IN6_IS_ADDR_LOOPBACK(&ipv6) ||
            (IN6_IS_ADDR_V4MAPPED(&ipv6) && ipv6.s6_addr[12] == 127));
  }

 private:
  bool process_and_close_socket(socket_t socket) override {
    Connection connection(socket, svr_sock_);
    // cpp-httplib serves each request of a connection on the thread that
    // runs this, handlers included, so they find the connection's state
    // through the thread.
    ConnectionState state;
    connection_ = &state;
    bool served = false;
    for (std::size_t left = keep_alive_max_count_; left > 0 && connection.awaitRequest(); --left) {
      bool closed = false;
      served = process_request(connection, left == 1, closed, nullptr);
      if (!served || closed || connection.failed() || state.closeAfterResponse) {
        break;
      }
    }
    connection_ = nullptr;
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
    return served;
  }
};

thread_local LiveServer::ConnectionState* LiveServer::connection_ = nullptr;

LiveServer::ConnectionState& LiveServer::connection() {
  // Never used: every request is served within process_and_close_socket.
  thread_local ConnectionState outside;
  return connection_ != nullptr ? *connection_ : outside;
}

// No weaker source stands in for the kernel's.
std::string LiveServer::randomToken() {
  unsigned char bytes[24];
  if (const int error = fillRandom(bytes, sizeof bytes); error != 0) {
    throw ListenError(std::string("cannot draw the live view's token: ") + std::strerror(error));
  }
  std::string token;
  for (const unsigned char byte : bytes) {
    token += "0123456789abcdef"[byte >> 4];
    token += "0123456789abcdef"[byte & 15];
  }
  return token;
}

namespace {

// The page with this run's marker token in place of its mark.
std::string pageWithToken(const std::string& token) {
  std::string page = kLivePage;
  const std::string mark = "@MARKER_TOKEN@";
  page.replace(page.find(mark), mark.size(), token);
  return page;
}

}  // namespace

LiveServer::LiveServer(const std::string& address, int port)
    : server_(std::make_unique<Server>()),
      address_(address),
      markerToken_(randomToken()),
      page_(pageWithToken(markerToken_)) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kMaxPages + kOtherThreads); };
  // A backstop: bodies are refused before this from their headers.
  server_->set_payload_max_length(kMaxRequestBody);
  server_->set_write_timeout(kWriteTimeout);
  server_->set_read_timeout(kRequestTimeout);
  server_->set_keep_alive_timeout(kIdleSeconds);
  // cpp-httplib would also set SO_REUSEPORT, under which a second bvhost
  // binds the same port without a word and the two runs share out the
  // pages: a page could show another subject's muscles.
  server_->set_socket_options([](int socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  route(*server_);
  listen(port);
}

void LiveServer::listen(int port) {
  errno = 0;
  port_ = port == 0 ? server_->bind_to_any_port(address_) : port;
  if (port_ <= 0 || (port != 0 && !server_->bind_to_port(address_, port))) {
    const int error = errno;
    throw ListenError("cannot listen on " + address_ + " port " + std::to_string(port) +
                      (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) +
                      "; check --listen, or give another --port (0 takes any free one)");
  }
  access_.loopback = server_->boundToLoopback();
  if (!access_.loopback) {
    access_.token = randomToken();
  }
  thread_ = threadWithoutStopSignals([this] {
    server_->listen_after_bind();
    listenEnded_ = true;
  });
}

LiveServer::~LiveServer() {
  closing_ = true;
  // A stop before the server runs would be lost and the join never end.
  while (!server_->is_running() && !listenEnded_) {
    std::this_thread::sleep_for(1ms);
  }
  server_->stop();
  thread_.join();
}

void LiveServer::letPagesFinish() {
  const auto deadline = std::chrono::steady_clock::now() + kWriteTimeout + 1s;
  while (pages_ > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
}

void LiveServer::acceptMarkers(MarkerPost post) {
  std::lock_guard lock(markerMutex_);
  if (markers_ == Markers::kNone) {
    markerPost_ = std::move(post);
    markers_ = Markers::kOpen;
  }
}

void LiveServer::closeMarkers() {
  std::lock_guard lock(markerMutex_);
  if (markers_ == Markers::kOpen) {
    markers_ = Markers::kClosed;
    markerPost_ = nullptr;
  }
}

std::string LiveServer::url() const {
  std::string host = address_;
  // Listening on every address, the address to give another machine is
  // this one's name.
  if (host == "0.0.0.0" || host == "::") {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    host = name;
  }
  const bool ipv6 = host.find(':') != std::string::npos;
  return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port_) + "/" +
         (access_.token.empty() ? "" : "?token=" + access_.token);
}

}  // namespace bvhost
