#include "live/live_view.h"

#include <csignal>
#include <cstdio>
#include <stdexcept>

namespace bvhost {

LiveView::LiveView(const LiveOptions& options) : server_(options.address, options.port) {
  // A page that goes away mid-write must cost an error code, not the run.
  std::signal(SIGPIPE, SIG_IGN);
  std::printf("Live view: %s\n", server_.url().c_str());
  std::fflush(stdout);
}

void LiveView::acceptMarkers(MarkerPost post) {
  if (hub_) {
    throw std::logic_error("LiveView::acceptMarkers after begin");
  }
  server_.acceptMarkers(std::move(post));
  markers_ = true;
}

void LiveView::begin(const ViewSetup& setup) {
  hub_ = std::make_shared<LiveHub>(exchange_, setup, markers_);
  tap_ = std::make_unique<LiveTap>(setup.channels.size(), exchange_);
  server_.attach(hub_);
}

void LiveView::end(ViewStatus last) {
  server_.closeMarkers();
  if (!hub_) {
    // Pages that never saw the run begin need no box for markers either.
    markers_ = false;
    begin(ViewSetup{"bvhost", {}, {}, {}});
  }
  hub_->finish(std::move(last));
  server_.letPagesFinish();
  ended_ = true;
}

void LiveView::fail(const std::string& reason) {
  if (ended_) {
    return;
  }
  ViewStatus last;
  last.failure = reason;
  end(std::move(last));
}

}  // namespace bvhost
