// The live view's web server: the page at "/", its event stream at
// "/events" and, on a run that takes them, markers posted at "/marker" by
// that page; nothing else, and nothing that changes the device. Each page's
// stream is served on a thread of the server's own, so a slow or stalled
// page delays only itself.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "live/live_access.h"
#include "live/marker_rules.h"

namespace httplib {
class DataSink;
struct Request;
struct Response;
class Server;
}  // namespace httplib

namespace bvhost {

class LiveHub;

class ListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Takes a marker the page posted: its text as sent, and the moment its
// request had arrived whole. Returns whether it was accepted and the line
// the page shows, "ok ..." or "refused: ...".
using MarkerPost = std::function<std::pair<bool, std::string>(
    std::string_view text, std::chrono::steady_clock::time_point received)>;

class LiveServer {
 public:
  // Listens at once, so an address in use fails before the plug-in is even
  // loaded; port 0 takes any free one. Throws ListenError. Bound to a
  // loopback address, it serves requests that name a loopback host; bound
  // to any other, requests that carry the token of the url it gives.
  LiveServer(const std::string& address, int port);
  ~LiveServer();
  LiveServer(const LiveServer&) = delete;
  LiveServer& operator=(const LiveServer&) = delete;

  // Pages that connect before the stream has a hub wait for it.
  void attach(std::shared_ptr<LiveHub> hub);
  // Once the hub has finished: gives every page's stream the time to take
  // its last events, bounded by how long a stalled page may hold a write.
  // Stopping at once would cut a stream between two of its turns and leave
  // its page without the run's end.
  void letPagesFinish();
  // Where a page is served, with the token off loopback.
  std::string url() const;

  // From now on the page's markers go to `post`, called on the server's
  // threads, one call at a time.
  void acceptMarkers(MarkerPost post);
  // From now on markers are refused; returns once no call of the post is
  // under way, after which none is made.
  void closeMarkers();

 private:
  class Server;

  // What the server keeps of one connection while it serves it.
  struct ConnectionState {
    // A body left unread would be read as the next request.
    bool closeAfterResponse = false;
  };
  // The connection whose request this thread is serving.
  static ConnectionState& connection();
  static thread_local ConnectionState* connection_;

  enum class Markers { kNone, kOpen, kClosed };

  // Streams served at once; each holds one of the server's threads.
  static constexpr int kMaxPages = 12;

  // Where a page's stream stands.
  struct PageStream {
    // Given to the page as its stream begins; the page sends it with its
    // markers, which count against this page's allowance and no other's.
    std::string id;
    std::uint64_t cursor = 0;
    bool started = false;
  };

  // At least 128 bits from the kernel's generator, as hex. Throws
  // ListenError when there are none.
  static std::string randomToken();

  void listen(int port);
  // The page at "/", its stream at "/events", its markers at "/marker",
  // and who is let in to any of them.
  void route(httplib::Server& server);
  void serveEvents(httplib::Response& response);
  void serveMarker(const httplib::Request& request, httplib::Response& response);
  // Whether the page whose stream has `pageId` may post another marker now;
  // markers without a known page share one allowance.
  bool markerAllowed(const std::string& pageId, std::chrono::steady_clock::time_point now);
  bool feed(PageStream& stream, httplib::DataSink& sink);
  std::shared_ptr<LiveHub> hub();

  std::unique_ptr<Server> server_;
  std::string address_;
  // Set before the server starts and only read after.
  LiveAccess access_;
  // The token a page must send with a marker, drawn on every run (loopback
  // too), and the page that carries it.
  std::string markerToken_;
  std::string page_;
  std::mutex markerMutex_;
  Markers markers_ = Markers::kNone;
  MarkerPost markerPost_;
  // Per page stream open, its markers' allowance, and one for the rest.
  std::mutex ratesMutex_;
  std::map<std::string, MarkerRate> pageRates_;
  MarkerRate otherRate_;
  int port_ = 0;
  std::mutex hubMutex_;
  std::shared_ptr<LiveHub> hub_;
  std::atomic<int> pages_ = 0;
  std::atomic<bool> closing_ = false;
  std::atomic<bool> listenEnded_ = false;
  std::thread thread_;
};

}  // namespace bvhost
