// Markers from other programs (`bvhost mark`, a stimulus script) reach a
// recording through a UNIX socket in a folder only the user can reach. The
// protocol is one line each way: the sender writes a marker as a line of
// UTF-8 ending in "\n" (several lines, several markers), and every line is
// answered by one line, "ok" (with remarks, "ok cut to 40 bytes") or
// "refused: <reason>".
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/quiet_thread.h"
#include "markers/marker_inbox.h"
#include "markers/marker_lines.h"
#include "markers/marker_socket_folder.h"
#include "markers/marker_thread.h"

namespace bvhost {

class MarkerSocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MarkerSocketOptions {
  // Names the socket, see markerSocketName. A live socket of that name
  // (another recording of a file of the same name) makes this one take
  // "<name>-2", "-3", ...; a socket whose server is gone is replaced.
  std::string runName;
  // Used when $XDG_RUNTIME_DIR/bvhost will not do; made 0700 if missing,
  // refused if others can reach it. Empty: no fallback.
  std::string fallbackFolder;
  // A client that neither sends nor takes a reply for this long is closed.
  std::chrono::milliseconds idleTimeout{30000};
  // A longer line is refused and ends its connection, as what follows could
  // not be told apart from the rest of it. A last line without "\n" before
  // the client ends its sending is still a marker.
  std::size_t maxLineBytes = kMaxMarkerLine;
  // Clients past this many get "refused: too many connections" and are
  // closed.
  std::size_t maxClients = 64;
};

struct MarkerSocketCounts {
  std::uint64_t connections = 0;
  // Lines answered, "ok" or refused.
  std::uint64_t lines = 0;
  std::uint64_t closedIdle = 0;
  std::uint64_t turnedAway = 0;
};

class MarkerSocketServer {
 public:
  // Creates the socket (mode 0600) and serves it on a thread of its own
  // until stop(). Throws MarkerSocketError when no folder will do or the
  // socket cannot be made, saying why.
  MarkerSocketServer(MarkerInbox& inbox, const MarkerSocketOptions& options);
  // Stops, as stop() does.
  ~MarkerSocketServer();
  MarkerSocketServer(const MarkerSocketServer&) = delete;
  MarkerSocketServer& operator=(const MarkerSocketServer&) = delete;

  // Ends the thread, closes every client, and removes the socket file
  // unless another server's socket has taken its name since. Idempotent.
  void stop();

  const std::string& path() const { return path_; }
  // The name `bvhost mark --to` takes for this recording.
  const std::string& name() const { return name_; }
  MarkerSocketCounts counts() const;

 private:
  struct Client;
  class Serving;

  void bindUnique(const std::string& folder, const std::string& baseName);
  void run();

  MarkerInbox& inbox_;
  MarkerSocketOptions options_;
  std::string folder_;
  std::string name_;
  std::string path_;
  int listenFd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  WakePipe wake_;
  std::atomic<std::uint64_t> connections_{0};
  std::atomic<std::uint64_t> lines_{0};
  std::atomic<std::uint64_t> closedIdle_{0};
  std::atomic<std::uint64_t> turnedAway_{0};
  std::thread thread_;
};

}  // namespace bvhost
