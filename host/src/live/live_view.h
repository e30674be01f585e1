// `--live` and `bvhost monitor`: the web server, the hub that feeds pages
// and the tap on the recording thread, started and ended as one.
#pragma once

#include <memory>
#include <string>

#include "live/live_hub.h"
#include "live/live_server.h"
#include "live/live_tap.h"
#include "live/view_events.h"
#include "live/view_exchange.h"

namespace bvhost {

struct LiveOptions {
  bool enabled = false;
  // Loopback unless the user names another address: the page shows a
  // person's muscle activity.
  std::string address = "127.0.0.1";
  int port = 8642;
};

class LiveView {
 public:
  // Listens at once and prints the address; throws ListenError.
  explicit LiveView(const LiveOptions& options);

  // Before begin: the page offers a box for markers and the markers typed
  // into it go to `post`, called on the server's threads, one call at a
  // time, never once end() or fail() has returned. Without it the page has
  // no box, and a marker posted anyway is answered 404. Throws
  // std::logic_error after begin, when pages have been told there is none.
  void acceptMarkers(MarkerPost post);
  // Pages wait until the stream's channels are known.
  void begin(const ViewSetup& setup);
  // Where a page is served, as printed.
  std::string url() const { return server_.url(); }
  LiveTap* tap() { return tap_.get(); }
  // After the recording is complete: pages get the final status and their
  // streams end. Pages then left hanging are cut off when this goes.
  void end(ViewStatus last);
  // A run that failed before end: pages are told why, even ones that never
  // saw the stream begin. Nothing if end came first.
  void fail(const std::string& reason);

 private:
  // Declared so that the server, whose page threads may hold the hub, goes
  // first, and the exchange, which the hub reads, last.
  ViewExchange exchange_;
  std::shared_ptr<LiveHub> hub_;
  std::unique_ptr<LiveTap> tap_;
  bool markers_ = false;
  bool ended_ = false;
  LiveServer server_;
};

}  // namespace bvhost
