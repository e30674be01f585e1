// Markers through the live view: the rules that keep every other web page
// from posting into the recording, the server that applies them to a page's
// requests, and the markers the recording places, on their way to every page,
// one that connects late included. (The page itself is judged in Chromium by
// scripts/live_markers_in_chromium.py.)
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "live/live_hub.h"
#include "live/live_tap.h"
#include "live/live_view.h"
#include "live/marker_rules.h"
#include "live/view_events.h"
#include "live/view_exchange.h"

namespace {

using namespace std::chrono_literals;
using bvhost::BodyHeaders;
using bvhost::MarkerHeaders;
using Clock = std::chrono::steady_clock;

const std::string kToken = "00112233445566778899aabbccddeeff0011223344556677";

MarkerHeaders fromThePage() {
  return MarkerHeaders{"127.0.0.1:8642", "http://127.0.0.1:8642", "same-origin", kToken,
                       "application/json"};
}

int statusOf(const std::optional<bvhost::Refusal>& refusal) {
  return refusal ? refusal->status : 0;
}

TEST(MarkerRules, OnlyThisRunsPageMayPostAMarker) {
  EXPECT_FALSE(bvhost::markerRefusal(kToken, fromThePage()));
  // What browsers send varies within what the page itself may send.
  {
    MarkerHeaders headers = fromThePage();
    headers.fetchSite.reset();  // browsers before Sec-Fetch-*
    headers.contentType = "Application/JSON; charset=UTF-8";
    headers.host = "LocalHost:8642";
    headers.origin = "http://localhost:8642";
    EXPECT_FALSE(bvhost::markerRefusal(kToken, headers));
  }
  struct Case {
    const char* what;
    void (*change)(MarkerHeaders&);
    int status;
  };
  const Case cases[] = {
      {"no Origin", [](MarkerHeaders& h) { h.origin.reset(); }, 403},
      {"another site", [](MarkerHeaders& h) { h.origin = "http://evil.example"; }, 403},
      {"another port", [](MarkerHeaders& h) { h.origin = "http://127.0.0.1:8000"; }, 403},
      {"an opaque origin", [](MarkerHeaders& h) { h.origin = "null"; }, 403},
      {"https", [](MarkerHeaders& h) { h.origin = "https://127.0.0.1:8642"; }, 403},
      {"two origins", [](MarkerHeaders& h) { h.origin = "http://127.0.0.1:8642, http://evil"; },
       403},
      {"cross-site fetch", [](MarkerHeaders& h) { h.fetchSite = "cross-site"; }, 403},
      {"same-site fetch", [](MarkerHeaders& h) { h.fetchSite = "same-site"; }, 403},
      {"typed address", [](MarkerHeaders& h) { h.fetchSite = "none"; }, 403},
      {"no token", [](MarkerHeaders& h) { h.token.reset(); }, 403},
      {"empty token", [](MarkerHeaders& h) { h.token = ""; }, 403},
      {"a wrong token", [](MarkerHeaders& h) { h.token = std::string(48, '0'); }, 403},
      {"the token cut short", [](MarkerHeaders& h) { h.token = kToken.substr(0, 47); }, 403},
      {"the token and more", [](MarkerHeaders& h) { *h.token += "0"; }, 403},
      {"the token in capitals",
       [](MarkerHeaders& h) { h.token = "00112233445566778899AABBCCDDEEFF0011223344556677"; }, 403},
      {"the token twice", [](MarkerHeaders& h) { *h.token += ", " + kToken; }, 403},
      {"no content type", [](MarkerHeaders& h) { h.contentType.reset(); }, 415},
      // The three a form on another site can send.
      {"text/plain", [](MarkerHeaders& h) { h.contentType = "text/plain"; }, 415},
      {"a form", [](MarkerHeaders& h) { h.contentType = "application/x-www-form-urlencoded"; },
       415},
      {"a multipart form",
       [](MarkerHeaders& h) { h.contentType = "multipart/form-data; boundary=x"; }, 415},
      {"JSON and more", [](MarkerHeaders& h) { h.contentType = "application/jsonx"; }, 415},
  };
  for (const auto& c : cases) {
    MarkerHeaders headers = fromThePage();
    c.change(headers);
    const auto refusal = bvhost::markerRefusal(kToken, headers);
    EXPECT_EQ(statusOf(refusal), c.status) << c.what;
    if (refusal) {
      EXPECT_EQ(refusal->text.rfind("refused: ", 0), 0u) << c.what;
    }
  }
  // A server without a token takes no marker, an empty token included.
  MarkerHeaders empty = fromThePage();
  empty.token = "";
  EXPECT_EQ(statusOf(bvhost::markerRefusal("", empty)), 403);
}

TEST(MarkerRules, ABodyIsReadOnlyWhenItsLengthIsGivenAndSmall) {
  const auto refused = [](const char* method, std::optional<std::string> length,
                          std::optional<std::string> encoding = std::nullopt) {
    return statusOf(bvhost::bodyRefusal(method, BodyHeaders{length, encoding}));
  };
  EXPECT_EQ(refused("GET", std::nullopt), 0);
  EXPECT_EQ(refused("GET", "0"), 0);
  EXPECT_EQ(refused("POST", "4096"), 0);
  EXPECT_EQ(refused("POST", "0004096"), 0);
  EXPECT_EQ(refused("POST", "4097"), 413);
  EXPECT_EQ(refused("POST", "99999999999999999999999"), 413);
  EXPECT_EQ(refused("GET", "100000"), 413);
  EXPECT_EQ(refused("POST", std::nullopt), 411);  // read until the client closes
  EXPECT_EQ(refused("PUT", std::nullopt), 411);
  EXPECT_EQ(refused("POST", "12", "chunked"), 411);
  EXPECT_EQ(refused("GET", std::nullopt, "chunked"), 411);
  EXPECT_EQ(refused("POST", "12, 12"), 400);
  EXPECT_EQ(refused("POST", "-1"), 400);
  EXPECT_EQ(refused("POST", ""), 400);

  EXPECT_FALSE(bvhost::mayHaveBody("GET", {std::nullopt, std::nullopt}));
  EXPECT_FALSE(bvhost::mayHaveBody("GET", {"0", std::nullopt}));
  EXPECT_FALSE(bvhost::mayHaveBody("POST", {"000", std::nullopt}));
  EXPECT_TRUE(bvhost::mayHaveBody("POST", {std::nullopt, std::nullopt}));
  EXPECT_TRUE(bvhost::mayHaveBody("GET", {"1", std::nullopt}));
  EXPECT_TRUE(bvhost::mayHaveBody("GET", {"x", std::nullopt}));
  EXPECT_TRUE(bvhost::mayHaveBody("GET", {"", std::nullopt}));
  EXPECT_TRUE(bvhost::mayHaveBody("GET", {std::nullopt, "chunked"}));
}

TEST(MarkerRules, TheBodyIsOneJsonObjectWithItsText) {
  using bvhost::markerTextFromJson;
  EXPECT_EQ(markerTextFromJson(R"({"text":"stimulus on"})"), "stimulus on");
  EXPECT_EQ(markerTextFromJson(" {\n \"text\" :\t\"lift\" } \r\n"), "lift");
  EXPECT_EQ(markerTextFromJson(R"({"text":""})"), "");
  EXPECT_EQ(markerTextFromJson(R"({"text":"a\"b\\c\/d\n\t\u0041"})"), "a\"b\\c/d\n\tA");
  EXPECT_EQ(markerTextFromJson(R"({"text":"caf\u00e9 \u20ac \ud83d\ude00"})"),
            "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
  EXPECT_EQ(markerTextFromJson("{\"text\":\"caf\xc3\xa9\"}"), "caf\xc3\xa9");
  for (const std::string body :
       {R"({"text":"x")", R"({"text":"x"} x)", R"({"text":"x","more":1})", R"({"txt":"x"})",
        R"(["x"])", R"({"text":1})", R"({"text":"\ud83d"})", R"({"text":"\ude00"})",
        R"({"text":"\ud83dx"})", R"({"text":"\u12"})", R"({"text":"\q"})", "{\"text\":\"a\nb\"}",
        R"({"text":"x)", R"({'text':'x'})", "", "text=x"}) {
    EXPECT_FALSE(markerTextFromJson(body)) << body;
  }
}

TEST(MarkerRules, APageGetsAFewMarkersAtOnceThenAFewASecond) {
  bvhost::MarkerRate rate;
  const Clock::time_point start{};
  int taken = 0;
  while (rate.take(start)) {
    ++taken;
  }
  EXPECT_EQ(taken, static_cast<int>(bvhost::MarkerRate::kBurst));
  EXPECT_FALSE(rate.take(start + 100ms));
  EXPECT_TRUE(rate.take(start + 200ms));
  EXPECT_FALSE(rate.take(start + 200ms));
  // A long pause refills no more than the burst.
  taken = 0;
  while (rate.take(start + 1h)) {
    ++taken;
  }
  EXPECT_EQ(taken, static_cast<int>(bvhost::MarkerRate::kBurst));
}

bvhost::ViewSetup oneSensor() {
  bvhost::ChannelInfo emg;
  emg.component = "S1";
  emg.channel = "EMG";
  emg.unit = 8;  // volts
  emg.rate = 2148.1481;
  return bvhost::ViewSetup{"test plug-in 1.0", {}, {{"S1", {}}}, {emg}};
}

// The events of `texts` that are markers.
std::vector<std::string> markerEvents(
    const std::vector<std::shared_ptr<const std::string>>& texts) {
  std::vector<std::string> markers;
  for (const auto& text : texts) {
    if (text->rfind("event: marker\n", 0) == 0) {
      markers.push_back(*text);
    }
  }
  return markers;
}

// Whether or not the view holds the exchange when a marker comes, every
// marker reaches it in order or is counted as dropped.
TEST(LiveTap, EveryMarkerReachesTheViewInOrderOrIsCounted) {
  bvhost::ViewExchange exchange;
  bvhost::LiveTap tap(1, exchange);
  std::atomic<bool> going = true;
  std::vector<bvhost::ViewMarker> seen;
  std::thread view([&] {
    while (going) {
      for (auto& marker : exchange.take().markers) {
        seen.push_back(std::move(marker));
      }
    }
  });
  const int marked = 5000;
  for (int i = 0; i < marked; ++i) {
    tap.mark(static_cast<double>(i), "trial " + std::to_string(i));
    if (i % 10 == 0) {
      tap.afterRead();
    }
  }
  going = false;
  view.join();
  tap.afterRead();  // the view is idle now: whatever waited goes
  for (auto& marker : exchange.take().markers) {
    seen.push_back(std::move(marker));
  }
  EXPECT_EQ(seen.size() + exchange.droppedMarkers(), static_cast<std::size_t>(marked));
  for (std::size_t i = 1; i < seen.size(); ++i) {
    ASSERT_LT(seen[i - 1].onsetSeconds, seen[i].onsetSeconds) << i;
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().text, "trial " + std::to_string(marked - 1));
}

TEST(ViewExchange, MarkersNobodyTakesAreBoundedTheOldestGoing) {
  bvhost::ViewExchange exchange;
  bvhost::LiveTap tap(1, exchange);
  const std::size_t many = bvhost::ViewExchange::kMaxQueuedMarkers + 5;
  for (std::size_t i = 0; i < many; ++i) {
    tap.mark(static_cast<double>(i), "trial " + std::to_string(i));
  }
  const auto taken = exchange.take();
  ASSERT_EQ(taken.markers.size(), bvhost::ViewExchange::kMaxQueuedMarkers);
  EXPECT_EQ(taken.markers.front().text, "trial 5");
  EXPECT_EQ(taken.markers.back().text, "trial " + std::to_string(many - 1));
  EXPECT_EQ(exchange.droppedMarkers(), 5u);
  EXPECT_NE(
      bvhost::statusEvent({}, {}, 0, exchange.droppedMarkers()).find(R"("viewDroppedMarkers":5)"),
      std::string::npos);
}

TEST(LiveHub, APageThatConnectsLateGetsTheMarkersItsHistoryNoLongerHolds) {
  bvhost::ViewExchange exchange;
  bvhost::LiveHub hub(exchange, oneSensor(), true);
  EXPECT_NE(hub.info().find(R"("markers":true)"), std::string::npos) << hub.info();
  bvhost::LiveTap tap(1, exchange);
  tap.mark(0.25, "stimulus \"on\"");
  // Until the hub has made it an event of its own, before any frame.
  std::uint64_t afterMarker = 0;
  for (int i = 0; i < 100 && afterMarker == 0; ++i) {
    const auto events = hub.after(0, 100ms);
    if (!markerEvents(events.texts).empty()) {
      afterMarker = events.next;
    }
  }
  ASSERT_NE(afterMarker, 0u) << "the hub never turned the marker into an event";

  const float value = 1.0f;
  for (std::uint64_t frame = 0; frame < 2 * bvhost::LiveHub::kHistoryFrames; ++frame) {
    tap.add(0, frame, &value, 1);
    if (frame % 50 == 49) {
      tap.afterRead();
      std::this_thread::sleep_for(5ms);
    }
  }
  tap.afterRead();
  tap.mark(8.0, "lift");
  hub.finish(bvhost::ViewStatus{});

  const auto late = hub.after(0, 0ms);
  EXPECT_EQ(markerEvents(late.texts),
            (std::vector<std::string>{
                "event: marker\ndata: {\"onset\":0.25,\"text\":\"stimulus \\\"on\\\"\"}\n\n",
                "event: marker\ndata: {\"onset\":8,\"text\":\"lift\"}\n\n"}));
  // A page that saw the first marker does not get it again.
  const auto resumed = hub.after(afterMarker, 0ms);
  ASSERT_EQ(markerEvents(resumed.texts).size(), 1u);
  EXPECT_NE(markerEvents(resumed.texts)[0].find("lift"), std::string::npos);
}

// A LiveView on a free loopback port, with what its marker post was given.
class LiveMarkers : public testing::Test {
 protected:
  struct Posted {
    std::string text;
    Clock::time_point received;
  };

  void start(bool acceptMarkers) {
    view_ = std::make_unique<bvhost::LiveView>(bvhost::LiveOptions{true, "127.0.0.1", 0});
    std::smatch match;
    const std::string url = view_->url();
    ASSERT_TRUE(std::regex_match(url, match, std::regex(R"(http://127\.0\.0\.1:(\d+)/)"))) << url;
    port_ = std::stoi(match[1]);
    if (acceptMarkers) {
      view_->acceptMarkers([this](std::string_view text, Clock::time_point received) {
        std::lock_guard lock(mutex_);
        posted_.push_back(Posted{std::string(text), received});
        if (text == "refuse this") {
          return std::pair<bool, std::string>(false, "refused: the recording says no");
        }
        return std::pair<bool, std::string>(true, "ok");
      });
    }
    view_->begin(oneSensor());
    token_ = pageToken();
  }

  // The token in the page as a browser gets it.
  std::string pageToken() {
    httplib::Client client("127.0.0.1", port_);
    const auto page = client.Get("/");
    if (!page || page->status != 200) {
      return {};
    }
    std::smatch match;
    if (!std::regex_search(page->body, match,
                           std::regex(R"re(<meta name="marker-token" content="([^"]*)">)re"))) {
      return {};
    }
    return match[1];
  }

  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  httplib::Headers pageHeaders() const {
    return {{"Origin", origin()}, {"Sec-Fetch-Site", "same-origin"}, {"X-Marker-Token", token_}};
  }

  httplib::Result post(const std::string& body, const httplib::Headers& headers,
                       const char* type = "application/json") {
    httplib::Client client("127.0.0.1", port_);
    return client.Post("/marker", headers, body, type);
  }

  std::vector<Posted> posted() {
    std::lock_guard lock(mutex_);
    return posted_;
  }

  // Everything the server sent back on a connection of its own given
  // `request`, until it closed that connection or 3 s passed: less than
  // the 4 s a request's head may take, after which the server would close
  // a connection left waiting for the rest of one.
  std::string exchangeRaw(const std::string& request) const {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(socket);
      return "(no connection)";
    }
    send(socket, request.data(), request.size(), MSG_NOSIGNAL);
    const timeval patience{3, 0};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::string answer;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = recv(socket, buffer, sizeof buffer, 0)) > 0) {
      answer.append(buffer, static_cast<std::size_t>(got));
    }
    if (got < 0) {
      answer += "(still open)";
    }
    close(socket);
    return answer;
  }

  std::unique_ptr<bvhost::LiveView> view_;
  int port_ = 0;
  std::string token_;
  std::mutex mutex_;
  std::vector<Posted> posted_;
};

TEST_F(LiveMarkers, AMarkerFromThePageReachesTheRecordingStampedOnArrival) {
  start(true);
  ASSERT_GE(token_.size(), 32u) << "fewer than 128 bits";
  ASSERT_EQ(token_.find_first_not_of("0123456789abcdef"), std::string::npos);

  const auto before = Clock::now();
  const auto accepted = post(R"({"text":"trial 12 \u00e9"})", pageHeaders());
  const auto after = Clock::now();
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->status, 200);
  EXPECT_EQ(accepted->body, "ok");
  const auto refused = post(R"({"text":"refuse this"})", pageHeaders());
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 422);
  EXPECT_EQ(refused->body, "refused: the recording says no");

  const auto got = posted();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].text, "trial 12 \xc3\xa9");
  EXPECT_GE(got[0].received, before);
  EXPECT_LE(got[0].received, after);

  // Another run draws another token.
  bvhost::LiveView other(bvhost::LiveOptions{true, "127.0.0.1", 0});
  other.begin(oneSensor());
  const int port = port_;
  port_ = std::stoi(other.url().substr(other.url().rfind(':') + 1));
  EXPECT_NE(pageToken(), token_);
  port_ = port;
}

TEST_F(LiveMarkers, NoOtherPageGetsAMarkerIn) {
  start(true);
  ASSERT_FALSE(token_.empty());
  struct Case {
    const char* what;
    httplib::Headers headers;
    const char* type;
    std::string body;
    int status;
  };
  const std::string body = R"({"text":"from elsewhere"})";
  const Case cases[] = {
      {"another site's page, with the token",
       {{"Origin", "http://evil.example"}, {"X-Marker-Token", token_}},
       "application/json",
       body,
       403},
      {"another site, cross-site, without the token",
       {{"Origin", "http://evil.example"}, {"Sec-Fetch-Site", "cross-site"}},
       "application/json",
       body,
       403},
      {"no Origin", {{"X-Marker-Token", token_}}, "application/json", body, 403},
      {"a wrong token",
       {{"Origin", origin()}, {"X-Marker-Token", std::string(48, 'a')}},
       "application/json",
       body,
       403},
      {"no token", {{"Origin", origin()}}, "application/json", body, 403},
      {"a form's body", pageHeaders(), "text/plain", body, 415},
      {"not the JSON the page sends", pageHeaders(), "application/json", "text=x", 400},
      // A page elsewhere whose own name resolves here (DNS rebinding).
      {"a rebound name",
       {{"Host", "evil.example:" + std::to_string(port_)},
        {"Origin", "http://evil.example:" + std::to_string(port_)},
        {"X-Marker-Token", token_}},
       "application/json",
       body,
       403},
  };
  for (const auto& c : cases) {
    const auto answer = post(c.body, c.headers, c.type);
    ASSERT_TRUE(answer) << c.what;
    EXPECT_EQ(answer->status, c.status) << c.what;
    EXPECT_NE(answer->body, "ok") << c.what;
  }
  // The question a browser asks before it sends what a form could not.
  httplib::Client client("127.0.0.1", port_);
  const auto preflight = client.Options(
      "/marker", {{"Origin", "http://evil.example"}, {"Access-Control-Request-Method", "POST"}});
  ASSERT_TRUE(preflight);
  EXPECT_EQ(preflight->status, 403);
  EXPECT_FALSE(preflight->has_header("Access-Control-Allow-Origin"));

  EXPECT_TRUE(posted().empty());
}

// A body is read only when its length is given and small; one refused
// before it was read ends the connection, or it would be read as the next
// request, one that another site's page chose.
TEST_F(LiveMarkers, BodiesAreBoundedAndAnUnreadOneIsNeverTakenForARequest) {
  start(true);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  const std::string marker = "POST /marker HTTP/1.1\r\n" + host + "Origin: " + origin() +
                             "\r\nX-Marker-Token: " + token_ +
                             "\r\nContent-Type: application/json\r\n";
  const std::string large = marker + "Content-Length: 5000\r\n\r\n" + std::string(5000, ' ');
  const std::string chunked = marker + "Transfer-Encoding: chunked\r\n\r\n5\r\n{\"tex\r\n0\r\n\r\n";
  const std::string unknown = marker + "\r\n{\"text\":\"x\"}";
  const std::string smuggled = "GET /?token=x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string rebound = "POST /marker HTTP/1.1\r\nHost: evil.example\r\nContent-Length: " +
                              std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled;

  const std::string largeAnswer = exchangeRaw(large);
  EXPECT_EQ(largeAnswer.rfind("HTTP/1.1 413 ", 0), 0u) << largeAnswer;
  const std::string chunkedAnswer = exchangeRaw(chunked);
  EXPECT_EQ(chunkedAnswer.rfind("HTTP/1.1 411 ", 0), 0u) << chunkedAnswer;
  const std::string unknownAnswer = exchangeRaw(unknown);
  EXPECT_EQ(unknownAnswer.rfind("HTTP/1.1 411 ", 0), 0u) << unknownAnswer;
  const std::string reboundAnswer = exchangeRaw(rebound);
  EXPECT_EQ(reboundAnswer.rfind("HTTP/1.1 403 ", 0), 0u) << reboundAnswer;
  for (const auto* answer : {&largeAnswer, &chunkedAnswer, &unknownAnswer, &reboundAnswer}) {
    EXPECT_EQ(answer->find("HTTP/1.1", 1), std::string::npos) << "a second answer: " << *answer;
    EXPECT_EQ(answer->find("(still open)"), std::string::npos) << *answer;
  }
  // A body in bounds leaves the connection as it was, for the next marker.
  const std::string one = R"({"text":"one"})";
  const std::string two = R"({"text":"two"})";
  const std::string both = marker + "Content-Length: " + std::to_string(one.size()) + "\r\n\r\n" +
                           one + marker + "Content-Length: " + std::to_string(two.size()) +
                           "\r\nConnection: close\r\n\r\n" + two;
  const std::string answers = exchangeRaw(both);
  EXPECT_EQ(answers.rfind("HTTP/1.1 200 ", 0), 0u) << answers;
  EXPECT_NE(answers.find("HTTP/1.1 200 ", 1), std::string::npos) << answers;
  const auto got = posted();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].text, "one");
  EXPECT_EQ(got[1].text, "two");
}

// A page's stream, read on a thread of its own until the reader goes.
class StreamReader {
 public:
  explicit StreamReader(int port)
      : thread_([this, port] {
          httplib::Client client("127.0.0.1", port);
          client.set_read_timeout(5, 0);
          std::string stream;
          const std::regex page(R"re(event: page\ndata: \{"id":"([0-9a-f]+)"\})re");
          client.Get("/events", [&](const char* data, std::size_t length) {
            stream.append(data, length);
            std::smatch match;
            if (std::regex_search(stream, match, page)) {
              std::lock_guard lock(mutex_);
              if (id_.empty()) {
                id_ = match[1];
                changed_.notify_all();
              }
            }
            return open_.load();
          });
          std::lock_guard lock(mutex_);
          ended_ = true;
          changed_.notify_all();
        }) {}
  ~StreamReader() {
    open_ = false;
    thread_.join();
  }

  // The id the server gave the stream, once it has; empty if it never did.
  std::string pageId() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return !id_.empty() || ended_; });
    return id_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string id_;
  bool ended_ = false;
  std::atomic<bool> open_ = true;
  std::thread thread_;
};

// Markers flooding in from one page are refused, that page's connection
// closed, while another page goes on posting its own.
TEST_F(LiveMarkers, AFloodFromOnePageLeavesTheOthersTheirMarkers) {
  start(true);
  StreamReader firstPage(port_);
  StreamReader secondPage(port_);
  const std::string first = firstPage.pageId();
  const std::string second = secondPage.pageId();
  EXPECT_GE(first.size(), 32u);
  EXPECT_NE(first, second);

  auto headers = pageHeaders();
  headers.emplace("X-Marker-Page", first);
  int accepted = 0;
  int refusedAt = -1;
  std::string refusal;
  std::string closing;
  for (int i = 0; i < 200 && refusedAt < 0 && !first.empty(); ++i) {
    const auto answer = post(R"({"text":"again"})", headers);
    ASSERT_TRUE(answer) << i;
    if (answer->status == 200) {
      ++accepted;
    } else {
      refusedAt = i;
      refusal = std::to_string(answer->status) + " " + answer->body;
      closing = answer->get_header_value("Connection");
    }
  }
  ASSERT_GE(refusedAt, 0) << "200 markers in a row were all taken";
  EXPECT_GE(accepted, static_cast<int>(bvhost::MarkerRate::kBurst));
  EXPECT_EQ(refusal.rfind("429 refused: ", 0), 0u) << refusal;
  EXPECT_EQ(closing, "close");
  EXPECT_EQ(posted().size(), static_cast<std::size_t>(accepted));

  auto otherHeaders = pageHeaders();
  otherHeaders.emplace("X-Marker-Page", second);
  const auto other = post(R"({"text":"another page"})", otherHeaders);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 200);
  httplib::Client page("127.0.0.1", port_);
  const auto loaded = page.Get("/");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->status, 200);
}

TEST_F(LiveMarkers, ARunWithoutMarkersHasNoBoxAndNoRoute) {
  start(false);
  ASSERT_FALSE(token_.empty());
  const auto answer = post(R"({"text":"x"})", pageHeaders());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 404);
  EXPECT_THROW(view_->acceptMarkers([](std::string_view, Clock::time_point) {
    return std::pair<bool, std::string>(true, "ok");
  }),
               std::logic_error);

  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(5, 0);
  std::string stream;
  client.Get("/events", [&](const char* data, std::size_t length) {
    stream.append(data, length);
    return stream.find("event: info") == std::string::npos ||
           stream.find("\n\n", stream.find("event: info")) == std::string::npos;
  });
  EXPECT_NE(stream.find(R"("markers":false)"), std::string::npos) << stream.substr(0, 300);
}

TEST_F(LiveMarkers, OnceTheRunHasEndedMarkersAreRefusedAndThePostLeftAlone) {
  start(true);
  ASSERT_TRUE(post(R"({"text":"before"})", pageHeaders()));
  view_->end(bvhost::ViewStatus{});
  const auto answer = post(R"({"text":"after"})", pageHeaders());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 409);
  EXPECT_EQ(answer->body, "refused: the recording has ended");
  ASSERT_EQ(posted().size(), 1u);
  EXPECT_EQ(posted()[0].text, "before");
}

// A marker the recording placed reaches a page's stream, with the info that
// offers the box.
TEST_F(LiveMarkers, AMarkerFromTheRecordingReachesThePage) {
  start(true);
  view_->tap()->mark(1.25, "lift");
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(5, 0);
  std::string stream;
  client.Get("/events", [&](const char* data, std::size_t length) {
    stream.append(data, length);
    return stream.find("event: marker") == std::string::npos;
  });
  EXPECT_NE(stream.find(R"("markers":true)"), std::string::npos) << stream.substr(0, 300);
  EXPECT_NE(stream.find("event: marker\ndata: {\"onset\":1.25,\"text\":\"lift\"}\n\n"),
            std::string::npos)
      << stream.substr(0, 300);
}

}  // namespace
