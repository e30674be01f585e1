// Where a recording's marker socket lives and what it is called: a folder
// only the user can reach, a name taken from the run's, and a look at
// whether a socket found there still has a server behind it. The server
// finds its name this way, and `bvhost mark` the recordings it may reach.
#pragma once

#include <sys/un.h>

#include <string>

namespace bvhost {

inline constexpr const char* kMarkerSocketExtension = ".sock";

// $XDG_RUNTIME_DIR/bvhost, or "" when XDG_RUNTIME_DIR is unset or not an
// absolute path.
std::string runtimeMarkerFolder();

// Makes `folder` (one level) with mode 0700, or checks the one there: a
// real folder, not a link, owned by this user, that no one else may enter.
// Returns "" when it will do, or why not.
std::string preparePrivateFolder(const std::string& folder);

// The name a run's socket takes from its run name (an output's file name):
// what a file name may safely hold, the rest made "_"; `bvhost mark --to`
// gives it. Never empty and never hidden.
std::string markerSocketName(const std::string& runName);

enum class SocketState {
  kLive,    // a server answers there
  kStale,   // a socket file whose server is gone
  kAbsent,  // nothing at that name
  kOther,   // something else, or what it is cannot be told
};
SocketState probeMarkerSocket(const std::string& path);

// Choosing a name and binding it, and removing a socket, happen under a
// lock on the folder, so two servers starting at once never both take a
// stale name, nor does one remove the socket another just made.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

// False when `path` is too long for a socket's address.
bool socketAddressFor(const std::string& path, sockaddr_un& address);

}  // namespace bvhost
