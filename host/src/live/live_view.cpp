#include "live/live_view.h"

#include <csignal>
#include <cstdio>

namespace bvhost {

LiveView::LiveView(const LiveOptions& options) : server_(options.address, options.port) {
  // A page that goes away mid-write must cost an error code, not the run.
  std::signal(SIGPIPE, SIG_IGN);
  std::printf("Live view: %s\n", server_.url().c_str());
  std::fflush(stdout);
}

void LiveView::begin(const ViewSetup& setup) {
  hub_ = std::make_shared<LiveHub>(exchange_, setup);
  tap_ = std::make_unique<LiveTap>(setup.channels.size(), exchange_);
  server_.attach(hub_);
}

void LiveView::end(ViewStatus last) {
  if (!hub_) {
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
