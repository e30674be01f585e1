#include "live_server.h"

#include <httplib.h>

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
// Each open page holds one of these threads for its stream.
constexpr std::size_t kServerThreads = 16;
// A page reconnects this long after losing its stream.
constexpr const char* kPreamble = "retry: 1000\n\n";

struct PageStream {
  std::uint64_t cursor = 0;
  bool started = false;
};

bool send(httplib::DataSink& sink, const std::string& text) {
  return sink.write(text.data(), text.size());
}

}  // namespace

LiveServer::LiveServer(const std::string& address, int port)
    : server_(std::make_unique<httplib::Server>()), address_(address) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server_->set_write_timeout(kWriteTimeout);
  server_->set_read_timeout(kWriteTimeout);
  server_->set_keep_alive_timeout(1);
  server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kLivePage, "text/html; charset=utf-8");
    response.set_header("Cache-Control", "no-store");
  });
  // Compressing (brotli, as browsers ask, at its slowest setting) cost
  // bvhost more CPU than all the rest of the view, to save bytes on a link
  // that is most often loopback. The request is the server's own object,
  // handed over read-only; dropping the header is how this version of
  // cpp-httplib lets a response go uncompressed.
  server_->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->Get("/events", [this](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    auto stream = std::make_shared<PageStream>();
    response.set_chunked_content_provider(
        "text/event-stream", [this, stream](std::size_t, httplib::DataSink& sink) {
          const auto current = hub();
          if (!current) {
            // A run that ends before its stream began (a refused connect)
            // must still let every page go, or the server never stops.
            if (closing_) {
              sink.done();
              return true;
            }
            std::this_thread::sleep_for(200ms);
            return send(sink, ": waiting\n\n");
          }
          if (!stream->started) {
            stream->started = true;
            if (!send(sink, kPreamble) || !send(sink, current->info())) {
              return false;
            }
          }
          const auto events = current->after(stream->cursor, 1000ms);
          for (const auto& text : events.texts) {
            if (!send(sink, *text)) {
              return false;
            }
          }
          stream->cursor = events.next;
          if (events.finished || closing_) {
            sink.done();
          } else if (events.texts.empty() && !send(sink, ": still here\n\n")) {
            return false;
          }
          return true;
        });
  });
  errno = 0;
  port_ = port == 0 ? server_->bind_to_any_port(address) : port;
  if (port_ <= 0 || (port != 0 && !server_->bind_to_port(address, port))) {
    const int error = errno;
    throw ListenError("cannot listen on " + address + " port " + std::to_string(port) +
                      (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) +
                      "; check --listen, or give another --port (0 takes any free one)");
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

void LiveServer::attach(std::shared_ptr<LiveHub> hub) {
  std::lock_guard lock(hubMutex_);
  hub_ = std::move(hub);
}

std::shared_ptr<LiveHub> LiveServer::hub() {
  std::lock_guard lock(hubMutex_);
  return hub_;
}

std::string LiveServer::url() const {
  const bool ipv6 = address_.find(':') != std::string::npos;
  return "http://" + (ipv6 ? "[" + address_ + "]" : address_) + ":" + std::to_string(port_) + "/";
}

}  // namespace bvhost
