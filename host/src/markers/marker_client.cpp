#include "markers/marker_client.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "markers/marker_socket_folder.h"

namespace bvhost {
namespace {

void addRunning(const std::string& folder, std::vector<RunningRecording>& found) {
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) {
    return;
  }
  const std::string_view extension = kMarkerSocketExtension;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view file = entry->d_name;
    if (file.size() <= extension.size() || !file.ends_with(extension)) {
      continue;
    }
    const std::string path = folder + "/" + std::string(file);
    if (probeMarkerSocket(path) == SocketState::kLive) {
      found.push_back({std::string(file.substr(0, file.size() - extension.size())), path});
    }
  }
  ::closedir(listing);
}

std::string namesOf(const std::vector<RunningRecording>& recordings) {
  std::string names;
  for (const auto& recording : recordings) {
    names += (names.empty() ? "" : ", ") + recording.name;
  }
  return names;
}

std::string foldersLookedIn(const MarkerSendOptions& options) {
  const std::string runtime = runtimeMarkerFolder();
  std::string folders = runtime.empty() ? "" : runtime;
  if (!options.fallbackFolder.empty()) {
    folders += (folders.empty() ? "" : " or ") + options.fallbackFolder;
  }
  return folders.empty() ? "XDG_RUNTIME_DIR is not set" : "none in " + folders;
}

// A socket connected to the recording at `path`, or -1 with `problem` set.
int connectTo(const std::string& path, std::string& problem) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    problem = std::strerror(errno);
    return -1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(),
              std::min(path.size() + 1, sizeof address.sun_path - 1));
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    problem = errno == ECONNREFUSED || errno == ENOENT ? "it has ended" : std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// False with `problem` set when the recording would not take the line.
bool sendLine(int fd, const std::string& line, std::chrono::milliseconds timeout,
              std::string& problem) {
  // A recording that is stopped (SIGSTOP, a debugger) takes no more than
  // its socket holds; waiting for it is bounded like waiting for its answer.
  const auto seconds = std::chrono::floor<std::chrono::seconds>(timeout);
  const timeval sendTimeout{static_cast<time_t>(seconds.count()),
                            static_cast<suseconds_t>((timeout - seconds).count() * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t put = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put < 0 && (errno == EPIPE || errno == ECONNRESET)) {
      // A line it would not take whole: its refusal is there to be read.
      break;
    }
    if (put < 0) {
      problem = errno == EAGAIN ? "it took nothing for " + std::to_string(timeout.count()) + " ms"
                                : std::strerror(errno);
      return false;
    }
    sent += static_cast<std::size_t>(put);
  }
  return true;
}

// What came back, read until a line break is there; without one,
// `problem` says why no answer came.
std::string readReply(int fd, std::chrono::milliseconds timeout, std::string& problem) {
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[512];
  while (reply.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd polled{fd, POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&polled, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      problem = ready == 0 ? "no answer within " + std::to_string(timeout.count()) + " ms"
                           : std::strerror(errno);
      break;
    }
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      problem = got == 0 ? "it closed without an answer" : std::strerror(errno);
      break;
    }
    reply.append(buffer, static_cast<std::size_t>(got));
  }
  return reply;
}

// The reply line, or "" with `problem` set.
std::string exchange(const std::string& path, const std::string& line,
                     std::chrono::milliseconds timeout, std::string& problem) {
  const int fd = connectTo(path, problem);
  if (fd < 0) {
    return "";
  }
  if (!sendLine(fd, line, timeout, problem)) {
    ::close(fd);
    return "";
  }
  ::shutdown(fd, SHUT_WR);
  const std::string reply = readReply(fd, timeout, problem);
  ::close(fd);
  const auto newline = reply.find('\n');
  if (newline == std::string::npos) {
    return "";
  }
  problem.clear();
  return reply.substr(0, newline);
}

}  // namespace

std::vector<RunningRecording> runningRecordings(const std::string& fallbackFolder) {
  std::vector<RunningRecording> found;
  const std::string runtime = runtimeMarkerFolder();
  if (!runtime.empty()) {
    addRunning(runtime, found);
  }
  if (!fallbackFolder.empty()) {
    std::string folder = fallbackFolder;
    while (folder.size() > 1 && folder.back() == '/') {
      folder.pop_back();
    }
    if (folder != runtime) {
      addRunning(folder, found);
    }
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return found;
}

int sendMarker(std::string_view text, const MarkerSendOptions& options, std::ostream& out,
               std::ostream& err) {
  const std::vector<RunningRecording> running = runningRecordings(options.fallbackFolder);
  if (running.empty()) {
    err << "bvhost: no recording is running (no marker socket: " << foldersLookedIn(options)
        << ")\n";
    return kMarkNoRecording;
  }
  const RunningRecording* chosen = nullptr;
  if (options.to.empty()) {
    if (running.size() > 1) {
      err << "bvhost: " << running.size()
          << " recordings are running; say which with --to: " << namesOf(running) << "\n";
      return kMarkWhichRecording;
    }
    chosen = &running.front();
  } else {
    const std::string asNamed = markerSocketName(options.to);
    for (const auto& recording : running) {
      if (recording.name == options.to || recording.name == asNamed) {
        chosen = &recording;
        break;
      }
    }
    if (chosen == nullptr) {
      err << "bvhost: no recording named " << options.to
          << " is running; running: " << namesOf(running) << "\n";
      return kMarkWhichRecording;
    }
  }

  std::string line(text);
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  line += '\n';
  std::string problem;
  const std::string reply = exchange(chosen->socketPath, line, options.replyTimeout, problem);
  if (reply.empty()) {
    err << "bvhost: the recording " << chosen->name << " did not take the marker: " << problem
        << "\n";
    return kMarkNoRecording;
  }
  if (reply == "ok" || reply.starts_with("ok ")) {
    out << reply << "\n";
    return kMarkAccepted;
  }
  err << reply << "\n";
  return kMarkRefused;
}

}  // namespace bvhost
