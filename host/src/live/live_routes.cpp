// What the live view's server answers: who it lets in, the page, each
// page's stream of events, and the markers a page posts.
#include <httplib.h>

#include <chrono>
#include <optional>
#include <thread>

#include "live/live_access.h"
#include "live/live_hub.h"
#include "live/live_server.h"
#include "live/marker_rules.h"

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

// A header's values joined as HTTP joins a repeated one, so that a second
// value can never hide behind the first.
std::optional<std::string> allValues(const httplib::Request& request, const char* header) {
  const std::size_t count = request.get_header_value_count(header);
  if (count == 0) {
    return std::nullopt;
  }
  std::string values;
  for (std::size_t i = 0; i < count; ++i) {
    values += (i == 0 ? "" : ", ") + request.get_header_value(header, i);
  }
  return values;
}

// "event: page": the stream's id, which the page sends with its markers.
std::string pageEvent(const std::string& id) {
  return "event: page\ndata: {\"id\":\"" + id + "\"}\n\n";
}

void answer(httplib::Response& response, int status, const std::string& line) {
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_content(line, "text/plain; charset=utf-8");
}

// Compressing (brotli, as browsers ask, at its slowest setting) cost bvhost
// more CPU than all the rest of the view, to save bytes on a link that is
// most often loopback. The request is the server's own object, handed over
// read-only; dropping the header is how this version of cpp-httplib lets a
// response go uncompressed.
std::optional<Refusal> admit(const httplib::Request& request, const LiveAccess& access) {
  const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");
  const auto token = request.has_param("token")
                         ? std::optional<std::string>(request.get_param_value("token"))
                         : std::nullopt;
  if (auto refused = refusal(access, oneValue(request, "Host"), token)) {
    return refused;
  }
  const BodyHeaders body{allValues(request, "Content-Length"),
                         allValues(request, "Transfer-Encoding")};
  if (auto refused = bodyRefusal(request.method, body)) {
    return refused;
  }
  // The question a browser asks before it lets another site's page send
  // what a form could not; the answer is no.
  if (request.method == "OPTIONS") {
    return Refusal{403, "refused: bvhost's live view takes requests from its own page only"};
  }
  return std::nullopt;
}

}  // namespace

void LiveServer::route(httplib::Server& server) {
  // Everything here is decided from the request's head, before cpp-httplib
  // reads any body.
  server.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        const auto refused = admit(request, access_);
        if (!refused) {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        if (mayHaveBody(request.method, {allValues(request, "Content-Length"),
                                         allValues(request, "Transfer-Encoding")})) {
          connection().closeAfterResponse = true;
          response.set_header("Connection", "close");
        }
        response.status = refused->status;
        response.set_content(refused->text, "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
      });
  server.Get("/", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(page_, "text/html; charset=utf-8");
    response.set_header("Cache-Control", "no-store");
    // Off loopback the page's address holds the token.
    response.set_header("Referrer-Policy", "no-referrer");
  });
  server.Get("/events", [this](const httplib::Request&, httplib::Response& response) {
    serveEvents(response);
  });
  server.Post("/marker", [this](const httplib::Request& request, httplib::Response& response) {
    serveMarker(request, response);
  });
}

void LiveServer::serveMarker(const httplib::Request& request, httplib::Response& response) {
  // The marker is placed by when it arrived, so the time is taken before
  // anything else: the body has just been read.
  const auto received = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(markerMutex_);
    if (markers_ == Markers::kNone) {
      answer(response, 404, "refused: this run of bvhost takes no markers");
      return;
    }
  }
  const MarkerHeaders headers{oneValue(request, "Host").value_or(""), allValues(request, "Origin"),
                              allValues(request, "Sec-Fetch-Site"),
                              allValues(request, kMarkerTokenHeader),
                              allValues(request, "Content-Type")};
  if (const auto refused = markerRefusal(markerToken_, headers)) {
    answer(response, refused->status, refused->text);
    return;
  }
  // A page that floods is held to its allowance, and its connection cut:
  // its next markers wait for a thread behind everyone else's requests.
  if (!markerAllowed(request.get_header_value(kMarkerPageHeader), received)) {
    connection().closeAfterResponse = true;
    response.set_header("Connection", "close");
    answer(response, 429, "refused: too many markers at once; wait a moment");
    return;
  }
  const auto text = markerTextFromJson(request.body);
  if (!text) {
    answer(response, 400, R"(refused: a marker's body is {"text": "..."})");
    return;
  }
  std::lock_guard lock(markerMutex_);
  if (markers_ != Markers::kOpen) {
    answer(response, 409, "refused: the recording has ended");
    return;
  }
  try {
    const auto [accepted, line] = markerPost_(*text, received);
    answer(response, accepted ? 200 : 422, line);
  } catch (const std::exception& error) {
    answer(response, 500, std::string("refused: ") + error.what());
  }
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
  stream->id = randomToken();
  {
    std::lock_guard lock(ratesMutex_);
    pageRates_.emplace(stream->id, MarkerRate{});
  }
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, stream](std::size_t, httplib::DataSink& sink) { return feed(*stream, sink); },
      [this, id = stream->id](bool) {
        {
          std::lock_guard lock(ratesMutex_);
          pageRates_.erase(id);
        }
        pages_.fetch_sub(1);
      });
}

bool LiveServer::markerAllowed(const std::string& pageId,
                               std::chrono::steady_clock::time_point now) {
  std::lock_guard lock(ratesMutex_);
  const auto page = pageRates_.find(pageId);
  return (page != pageRates_.end() ? page->second : otherRate_).take(now);
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
    if (!send(sink, kPreamble) || !send(sink, pageEvent(stream.id)) ||
        !send(sink, current->info())) {
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
