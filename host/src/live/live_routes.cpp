// What the live view's server answers: who it lets in, the page, and each
// page's stream of events.
#include <httplib.h>

#include <chrono>
#include <optional>
#include <thread>

#include "live/live_access.h"
#include "live/live_hub.h"
#include "live/live_page.h"
#include "live/live_server.h"

namespace bvhost {
namespace {

using namespace std::chrono_literals;

// A page reconnects this long after losing its stream.
constexpr const char* kPreamble = "retry: 1000\n\n";

bool send(httplib::DataSink& sink, const std::string& text) {
  return sink.write(text.data(), text.size());
}

std::optional<std::string> oneValue(const httplib::Request& request, const char* header) {
  if (request.get_header_value_count(header) != 1) {
    return std::nullopt;
  }
  return request.get_header_value(header);
}

// Compressing (brotli, as browsers ask, at its slowest setting) cost bvhost
// more CPU than all the rest of the view, to save bytes on a link that is
// most often loopback. The request is the server's own object, handed over
// read-only; dropping the header is how this version of cpp-httplib lets a
// response go uncompressed.
httplib::Server::HandlerResponse admit(const httplib::Request& request, httplib::Response& response,
                                       const LiveAccess& access) {
  const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");
  const auto token = request.has_param("token")
                         ? std::optional<std::string>(request.get_param_value("token"))
                         : std::nullopt;
  if (const auto refused = refusal(access, oneValue(request, "Host"), token)) {
    response.status = refused->status;
    response.set_content(refused->text, "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

}  // namespace

void LiveServer::route(httplib::Server& server) {
  server.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        return admit(request, response, access_);
      });
  server.Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kLivePage, "text/html; charset=utf-8");
    response.set_header("Cache-Control", "no-store");
    // Off loopback the page's address holds the token.
    response.set_header("Referrer-Policy", "no-referrer");
  });
  server.Get("/events", [this](const httplib::Request&, httplib::Response& response) {
    serveEvents(response);
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

void LiveServer::attach(std::shared_ptr<LiveHub> hub) {
  std::lock_guard lock(hubMutex_);
  hub_ = std::move(hub);
}

std::shared_ptr<LiveHub> LiveServer::hub() {
  std::lock_guard lock(hubMutex_);
  return hub_;
}

}  // namespace bvhost
