// The live view's web server: the page at "/" and its event stream at
// "/events", nothing else, and nothing that changes the device or the
// recording. Each page's stream is served on a thread of the server's own,
// so a slow or stalled page delays only itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "live/live_access.h"

namespace httplib {
class DataSink;
class Response;
class Server;
}  // namespace httplib

namespace bvhost {

class LiveHub;

class ListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

 private:
  class Server;

  // Streams served at once; each holds one of the server's threads.
  static constexpr int kMaxPages = 12;

  // Where a page's stream stands.
  struct PageStream {
    std::uint64_t cursor = 0;
    bool started = false;
  };

  void listen(int port);
  // The page at "/", its stream at "/events", and who is let in to either.
  void route(httplib::Server& server);
  void serveEvents(httplib::Response& response);
  bool feed(PageStream& stream, httplib::DataSink& sink);
  std::shared_ptr<LiveHub> hub();

  std::unique_ptr<Server> server_;
  std::string address_;
  // Set before the server starts and only read after.
  LiveAccess access_;
  int port_ = 0;
  std::mutex hubMutex_;
  std::shared_ptr<LiveHub> hub_;
  std::atomic<int> pages_ = 0;
  std::atomic<bool> closing_ = false;
  std::atomic<bool> listenEnded_ = false;
  std::thread thread_;
};

}  // namespace bvhost
