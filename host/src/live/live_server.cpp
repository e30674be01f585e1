#include "live_server.h"

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "live_hub.h"
#include "live_page.h"
#include "quiet_thread.h"

namespace bvhost {
namespace {

using namespace std::chrono_literals;

// A page that stops reading is cut off after this long, which also bounds
// how long the end of a run waits for it.
constexpr auto kWriteTimeout = 2s;
// Each open page holds one of these threads for its stream; the rest serve
// the page itself and refusals.
constexpr std::size_t kServerThreads = 16;
constexpr int kMaxPages = 12;
// A page reconnects this long after losing its stream.
constexpr const char* kPreamble = "retry: 1000\n\n";

bool send(httplib::DataSink& sink, const std::string& text) {
  return sink.write(text.data(), text.size());
}

bool isLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

// The host a request names, without its port: "[::1]:8642" gives "::1".
std::string hostName(const std::string& host) {
  if (!host.empty() && host.front() == '[') {
    return host.substr(1, host.find(']') - 1);
  }
  return host.substr(0, host.find(':'));
}

// Compressing (brotli, as browsers ask, at its slowest setting) cost bvhost
// more CPU than all the rest of the view, to save bytes on a link that is
// most often loopback. The request is the server's own object, handed over
// read-only; dropping the header is how this version of cpp-httplib lets a
// response go uncompressed.
//
// On loopback, a request must also name a loopback host: a web page that
// had its own name resolve to 127.0.0.1 (DNS rebinding) could otherwise
// read the stream that listening on loopback keeps to this machine.
httplib::Server::HandlerResponse admit(const httplib::Request& request, httplib::Response& response,
                                       bool loopback) {
  const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");
  const std::string host = hostName(request.get_header_value("Host"));
  if (loopback && !host.empty() && !isLoopback(host)) {
    response.status = 403;
    response.set_content("bvhost's live view answers only to 127.0.0.1 or localhost",
                         "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

}  // namespace

LiveServer::LiveServer(const std::string& address, int port)
    : server_(std::make_unique<httplib::Server>()), address_(address) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server_->set_write_timeout(kWriteTimeout);
  server_->set_read_timeout(kWriteTimeout);
  server_->set_keep_alive_timeout(1);
  // cpp-httplib would also set SO_REUSEPORT, under which a second bvhost
  // binds the same port without a word and the two runs share out the
  // pages: a page could show another subject's muscles.
  server_->set_socket_options([](int socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  const bool loopback = isLoopback(address);
  server_->set_pre_routing_handler(
      [loopback](const httplib::Request& request, httplib::Response& response) {
        return admit(request, response, loopback);
      });
  server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kLivePage, "text/html; charset=utf-8");
    response.set_header("Cache-Control", "no-store");
  });
  server_->Get("/events", [this](const httplib::Request&, httplib::Response& response) {
    serveEvents(response);
  });
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
  thread_ = threadWithoutStopSignals([this] {
    server_->listen_after_bind();
    listenEnded_ = true;
  });
}

void LiveServer::serveEvents(httplib::Response& response) {
  // Each stream holds one of the server's threads for as long as it lasts;
  // past the cap a page is told so, and the page itself still loads.
  if (pages_.fetch_add(1) >= kMaxPages) {
    pages_.fetch_sub(1);
    response.status = 503;
    response.set_content("bvhost serves at most " + std::to_string(kMaxPages) +
                             " live pages at once; close one and reload",
                         "text/plain; charset=utf-8");
    return;
  }
  response.set_header("Cache-Control", "no-store");
  auto stream = std::make_shared<PageStream>();
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, stream](std::size_t, httplib::DataSink& sink) { return feed(*stream, sink); },
      [this](bool) { pages_.fetch_sub(1); });
}

// One turn of a page's stream: what is new, or a sign of life. False ends
// the connection (the page stopped reading).
bool LiveServer::feed(PageStream& stream, httplib::DataSink& sink) {
  const auto current = hub();
  if (!current) {
    // A run that ends before its stream began (a refused connect) must
    // still let every page go, or the server never stops.
    if (closing_) {
      sink.done();
      return true;
    }
    std::this_thread::sleep_for(200ms);
    return send(sink, ": waiting\n\n");
  }
  if (!stream.started) {
    stream.started = true;
    if (!send(sink, kPreamble) || !send(sink, current->info())) {
      return false;
    }
  }
  const auto events = current->after(stream.cursor, 1000ms);
  for (const auto& text : events.texts) {
    if (!send(sink, *text)) {
      return false;
    }
  }
  stream.cursor = events.next;
  if (events.finished || closing_) {
    sink.done();
  } else if (events.texts.empty() && !send(sink, ": still here\n\n")) {
    return false;
  }
  return true;
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

void LiveServer::attach(std::shared_ptr<LiveHub> hub) {
  std::lock_guard lock(hubMutex_);
  hub_ = std::move(hub);
}

std::shared_ptr<LiveHub> LiveServer::hub() {
  std::lock_guard lock(hubMutex_);
  return hub_;
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
  return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port_) + "/";
}

}  // namespace bvhost
