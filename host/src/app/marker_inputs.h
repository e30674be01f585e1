// Where the markers of `bvhost record` and `bvhost monitor` come from: the
// run's socket, which `bvhost mark` and other programs write to, and the
// terminal (or, when asked, a pipe) on stdin. All go into one inbox, which
// the recording session takes them from and puts on the stream's time line.
#pragma once

#include <memory>
#include <string>

#include "app/progress.h"
#include "markers/line_reader.h"
#include "markers/marker_inbox.h"
#include "markers/marker_socket.h"

namespace bvhost {

// Where a run's socket goes, and `bvhost mark` looks, when XDG_RUNTIME_DIR
// will not do: /tmp/bvhost-<uid>, made private to the user.
std::string markerFallbackFolder();

struct MarkerInputOptions {
  // Names the socket: the first output's file name, or "monitor".
  std::string runName;
  // Read stdin although it is no terminal: one marker per line of a pipe.
  bool fromStdin = false;
};

class MarkerInputs {
 public:
  // Serves the socket, printing on stdout how to reach it, and reads stdin
  // when it is a terminal or `fromStdin` says so. A socket that cannot be
  // made costs the recording nothing: stderr says why, and markers can still
  // be typed. The inbox refuses markers until the session opens it.
  MarkerInputs(const MarkerInputOptions& options, ProgressLine& progress);
  // Stops, as stop() does.
  ~MarkerInputs();
  MarkerInputs(const MarkerInputs&) = delete;
  MarkerInputs& operator=(const MarkerInputs&) = delete;

  MarkerInbox& inbox() { return inbox_; }
  // The name `bvhost mark --to` takes, or "" without a socket.
  std::string socketName() const;
  bool readsTerminal() const { return terminal_; }

  // At the very end of a run, after its summary: stops reading, removes the
  // socket, and drops from the terminal whatever was typed and never
  // entered, which the shell would otherwise take as its next command.
  // Idempotent.
  void stop();

  // For the summary: how many markers were recorded (`writing`) or taken
  // for the live view only, and how many refused, by reason; "" when none
  // was sent.
  std::string summary(bool writing = true) const;

 private:
  void onReply(const MarkerReply& reply);

  ProgressLine& progress_;
  // Declared first, so it outlives the threads that offer into it.
  MarkerInbox inbox_{MarkerInbox::kDefaultCapacity, InboxStart::kWhenOpened};
  std::unique_ptr<MarkerSocketServer> socket_;
  std::unique_ptr<MarkerLineReader> reader_;
  bool terminal_ = false;
  bool stopped_ = false;
};

}  // namespace bvhost
