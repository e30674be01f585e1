// Who may post a marker into the recording through the live view, decided
// from what a request says alone, so the rules can be read and tested apart
// from the server.
//
// Reading the stream tells a stranger little he could not guess; writing
// into the recording is another matter, and any web page the person at the
// bench has open can make the browser send requests to the live view's
// address. So a marker must come from the page bvhost served this run: the
// page carries the run's marker token, which no other site can read from
// it, and sends it in a header of bvhost's own, which no other site can
// make a browser send without asking the server first (and the server
// never answers such a question). A request that says it came from another
// origin is refused whatever it carries, and the body must be JSON, which
// a form on another site cannot post either.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "live/live_access.h"

namespace bvhost {

// The header that carries the run's marker token.
inline constexpr const char* kMarkerTokenHeader = "X-Marker-Token";
// The header that names the page's stream, whose allowance a marker counts
// against.
inline constexpr const char* kMarkerPageHeader = "X-Marker-Page";
// The largest body a request may have, a marker's included; a person's
// marker is a few words.
inline constexpr std::size_t kMaxRequestBody = 4096;

// What a request's head says about its body. Each field is absent when the
// request has no such header; one given more than once arrives as its
// values joined by ", ", as HTTP combines them.
struct BodyHeaders {
  std::optional<std::string> contentLength;
  std::optional<std::string> transferEncoding;
};

// Nothing when the body, if any, may be read: a body only with its length
// given, never chunked, and at most kMaxRequestBody bytes. A method that
// has a body must give its length, since without one the body would be
// read until the client closes.
std::optional<Refusal> bodyRefusal(std::string_view method, const BodyHeaders& headers);

// Whether a refused request must also lose its connection: one that sent,
// or may have sent, a body, which would otherwise be read as the next
// request. A POST without a length may still have sent one.
bool mayHaveBody(std::string_view method, const BodyHeaders& headers);

// What a marker's request says about where it came from; as above.
struct MarkerHeaders {
  std::string host;  // already admitted by refusal()
  std::optional<std::string> origin;
  std::optional<std::string> fetchSite;  // Sec-Fetch-Site
  std::optional<std::string> token;      // kMarkerTokenHeader
  std::optional<std::string> contentType;
};

// Nothing when the request comes from this run's page: the Origin is this
// server as the page's browser addressed it, Sec-Fetch-Site, when sent,
// says same-origin, the token is this run's and the body is JSON.
std::optional<Refusal> markerRefusal(std::string_view markerToken, const MarkerHeaders& headers);

// The text of a marker's body, {"text": "..."} and nothing else; absent
// when the body is anything else. The text is returned as the JSON string
// decodes, escapes resolved; whether it can be a marker is for whoever
// takes it to judge.
std::optional<std::string> markerTextFromJson(std::string_view body);

// How many markers one page may post: a few at once, then a steady few a
// second, far more than a person types, and few enough that the events
// they become cannot crowd the other pages' streams.
class MarkerRate {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr double kBurst = 10.0;
  static constexpr double kPerSecond = 5.0;

  // Takes one marker's allowance; false when none is left.
  bool take(Clock::time_point now);

 private:
  double allowance_ = kBurst;
  std::optional<Clock::time_point> last_;
};

}  // namespace bvhost
