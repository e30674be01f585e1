// The marker socket and its client, in a runtime folder of the test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "markers/marker_client.h"
#include "markers/marker_socket.h"

using namespace bvhost;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

int connectTo(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
      << std::strerror(errno);
  return fd;
}

void sendAll(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t put = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    ASSERT_GT(put, 0) << std::strerror(errno);
    sent += static_cast<std::size_t>(put);
  }
}

// What the server sends until it closes, or nothing once `limit` passes
// without a byte.
std::optional<std::string> readUntilClosed(int fd, std::chrono::milliseconds limit) {
  std::string text;
  char buffer[4096];
  for (;;) {
    pollfd polled{fd, POLLIN, 0};
    if (::poll(&polled, 1, static_cast<int>(limit.count())) <= 0) {
      return std::nullopt;
    }
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      return text;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

struct Sent {
  int status;
  std::string out;
  std::string err;
};

MarkerSendOptions to(const std::string& name) {
  MarkerSendOptions options;
  options.to = name;
  return options;
}

MarkerSendOptions lookingIn(const std::string& folder) {
  MarkerSendOptions options;
  options.fallbackFolder = folder;
  return options;
}

Sent mark(std::string_view text, MarkerSendOptions options = {}) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = sendMarker(text, options, out, err);
  return {status, out.str(), err.str()};
}

// Each test has a runtime folder of its own, as a login session does.
class MarkerSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/bvhost-markers-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    runtime_ = name;
    ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(runtime_);
  }

  std::string folder() const { return runtime_ + "/bvhost"; }
  MarkerSocketOptions options(const std::string& runName) const {
    MarkerSocketOptions options;
    options.runName = runName;
    return options;
  }

  std::string runtime_;
  MarkerInbox inbox_;
};

}  // namespace

// Only the user reaches the socket, which carries the run's name, and
// `bvhost mark` finds the one recording running without being told.
TEST_F(MarkerSocket, OnlyTheUserReachesItAndAMarkerGetsOk) {
  MarkerSocketServer server(inbox_, options("sub 01/../run 1.bdf"));
  EXPECT_EQ(server.name(), "run_1.bdf");
  EXPECT_EQ(server.path(), folder() + "/run_1.bdf.sock");
  EXPECT_EQ(modeOf(folder()), 0700u);
  EXPECT_EQ(modeOf(server.path()), 0600u);
  EXPECT_EQ(markerSocketName(".hidden"), "_hidden");
  EXPECT_EQ(markerSocketName("dir/"), "bvhost");

  const MarkerClock::time_point before = MarkerClock::now();
  const Sent sent = mark("stim on");
  EXPECT_EQ(sent.status, kMarkAccepted) << sent.err;
  EXPECT_EQ(sent.out, "ok\n");
  const Sent cut = mark(std::string(45, 'y'), to("run 1.bdf"));
  EXPECT_EQ(cut.out, "ok cut to 40 bytes\n");
  // A line break would make two markers of one text.
  EXPECT_EQ(mark("two\nlines").status, kMarkAccepted);

  const std::vector<Marker>& taken = inbox_.take();
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].text, "stim on");
  EXPECT_GE(taken[0].received, before);
  EXPECT_EQ(taken[2].text, "two lines");
  EXPECT_EQ(server.counts().lines, 3u);
}

// Several lines on one connection are several markers, answered in order;
// a line past the limit is refused and ends the connection, since the rest
// of it cannot be told from the lines after it.
TEST_F(MarkerSocket, EachLineIsAnsweredAndATooLongOneEndsTheConnection) {
  MarkerSocketServer server(inbox_, options("run"));
  const int fd = connectTo(server.path());
  sendAll(fd, "a\nb\r\n\n\xC3\n" + std::string(5000, 'z') + "\nnever read\n");
  ::shutdown(fd, SHUT_WR);
  const auto replies = readUntilClosed(fd, std::chrono::seconds(10));
  ::close(fd);
  ASSERT_TRUE(replies.has_value());
  EXPECT_EQ(*replies,
            "ok\nok\nrefused: empty marker\nrefused: invalid UTF-8 at byte offset 0 (0xc3)\n"
            "refused: longer than 4096 bytes\n");
  EXPECT_EQ(inbox_.counts().accepted, 2u);
  EXPECT_EQ(inbox_.counts().refusedText, 3u);
}

// A client that connects and says nothing, or stops halfway through a
// line, holds no one up: another's marker is answered while they wait
// (long before their time is up), and they are closed once idle too long.
TEST_F(MarkerSocket, AnIdleClientDelaysNoOneAndIsClosed) {
  int silent = -1;
  int halfway = -1;
  {
    MarkerSocketOptions patient = options("patient");
    patient.idleTimeout = std::chrono::minutes(10);
    MarkerSocketServer server(inbox_, patient);
    silent = connectTo(server.path());
    halfway = connectTo(server.path());
    sendAll(halfway, "no end to th");
    const Sent sent = mark("meanwhile");
    EXPECT_EQ(sent.status, kMarkAccepted) << sent.err;
    EXPECT_EQ(sent.out, "ok\n");
    EXPECT_EQ(server.counts().closedIdle, 0u);
  }
  // Closed only now: a line cut short by the client's end would count.
  ::close(silent);
  ::close(halfway);

  MarkerSocketOptions brief = options("brief");
  brief.idleTimeout = std::chrono::milliseconds(300);
  MarkerSocketServer server(inbox_, brief);
  silent = connectTo(server.path());
  halfway = connectTo(server.path());
  sendAll(halfway, "no end to th");
  EXPECT_EQ(readUntilClosed(silent, std::chrono::seconds(10)), std::string());
  EXPECT_EQ(readUntilClosed(halfway, std::chrono::seconds(10)), std::string());
  ::close(silent);
  ::close(halfway);
  EXPECT_EQ(server.counts().closedIdle, 2u);
  EXPECT_EQ(inbox_.counts().accepted, 1u);
  EXPECT_EQ(inbox_.counts().refusedText, 0u);
}

// Past the limit of clients a newcomer is told so and closed, and the
// ones already there are served as before.
TEST_F(MarkerSocket, ClientsPastTheLimitAreTurnedAway) {
  MarkerSocketOptions settings = options("run");
  settings.maxClients = 1;
  MarkerSocketServer server(inbox_, settings);
  const int first = connectTo(server.path());
  const int second = connectTo(server.path());
  EXPECT_EQ(readUntilClosed(second, std::chrono::seconds(10)), "refused: too many connections\n");
  ::close(second);
  sendAll(first, "still served\n");
  ::shutdown(first, SHUT_WR);
  EXPECT_EQ(readUntilClosed(first, std::chrono::seconds(10)), "ok\n");
  ::close(first);
  EXPECT_EQ(server.counts().turnedAway, 1u);
}

// Ten thousand markers as fast as a client can write them, into an inbox
// that a slow recording thread empties now and then: every line is
// answered, and the answers add up to what the inbox counted.
TEST_F(MarkerSocket, AFloodIsAnsweredLineForLine) {
  constexpr int kMarkers = 10000;
  MarkerInbox small(100);
  MarkerSocketServer server(small, options("flood"));
  std::atomic<bool> recording{true};
  std::atomic<std::size_t> taken{0};
  std::thread recorder([&] {
    while (recording) {
      taken += small.take().size();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  const int fd = connectTo(server.path());
  std::thread writer([&] {
    std::string lines;
    for (int i = 0; i < kMarkers; ++i) {
      lines += "marker " + std::to_string(i) + "\n";
    }
    sendAll(fd, lines);
    ::shutdown(fd, SHUT_WR);
  });
  const auto replies = readUntilClosed(fd, std::chrono::seconds(30));
  writer.join();
  ::close(fd);
  recording = false;
  recorder.join();
  taken += small.close().size();

  ASSERT_TRUE(replies.has_value());
  std::size_t ok = 0;
  std::size_t refused = 0;
  std::istringstream lines(*replies);
  for (std::string line; std::getline(lines, line);) {
    if (line == "ok") {
      ++ok;
    } else {
      EXPECT_EQ(line, "refused: 100 markers are waiting for the recording already");
      ++refused;
    }
  }
  EXPECT_EQ(ok + refused, static_cast<std::size_t>(kMarkers));
  const MarkerCounts counts = small.counts();
  EXPECT_EQ(counts.accepted, ok);
  EXPECT_EQ(counts.refusedFull, refused);
  EXPECT_EQ(taken, ok);
  EXPECT_EQ(server.counts().lines, static_cast<std::uint64_t>(kMarkers));
}

// After the stop the socket still answers until it goes, and what it
// answers is that the recording has stopped.
TEST_F(MarkerSocket, AfterTheStopMarkersAreRefusedAsStopped) {
  MarkerSocketServer server(inbox_, options("run"));
  inbox_.close();
  const Sent sent = mark("too late");
  EXPECT_EQ(sent.status, kMarkRefused);
  EXPECT_EQ(sent.err, "refused: the recording has stopped\n");
  EXPECT_EQ(sent.out, "");
}

// The socket goes with its server, and the client then says that nothing
// is running.
TEST_F(MarkerSocket, TheSocketGoesWithItsServer) {
  std::string path;
  {
    MarkerSocketServer server(inbox_, options("run"));
    path = server.path();
    ASSERT_TRUE(std::filesystem::exists(path));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  const Sent sent = mark("anyone?");
  EXPECT_EQ(sent.status, kMarkNoRecording);
  EXPECT_THAT(sent.err, HasSubstr("no recording is running"));
  EXPECT_THAT(sent.err, HasSubstr(folder()));
}

// A socket left by a run that died is taken over under its own name; one
// that answers is another recording's, and the new one takes "-2". With two
// running, the client needs a name and lists both.
TEST_F(MarkerSocket, AStaleSocketIsReplacedAndALiveOneKept) {
  ASSERT_EQ(preparePrivateFolder(folder()), "");
  const std::string stalePath = folder() + "/run.sock";
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, stalePath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  ASSERT_EQ(probeMarkerSocket(stalePath), SocketState::kStale);
  EXPECT_EQ(mark("x").status, kMarkNoRecording);

  MarkerSocketServer first(inbox_, options("run"));
  EXPECT_EQ(first.path(), stalePath);
  EXPECT_EQ(probeMarkerSocket(stalePath), SocketState::kLive);
  MarkerInbox secondInbox;
  MarkerSocketServer second(secondInbox, options("run"));
  EXPECT_EQ(second.name(), "run-2");

  const Sent unclear = mark("which?");
  EXPECT_EQ(unclear.status, kMarkWhichRecording);
  EXPECT_THAT(unclear.err, HasSubstr("2 recordings are running"));
  EXPECT_THAT(unclear.err, HasSubstr("run, run-2"));
  const Sent unknown = mark("which?", to("walk"));
  EXPECT_EQ(unknown.status, kMarkWhichRecording);
  EXPECT_THAT(unknown.err, HasSubstr("no recording named walk is running; running: run, run-2"));

  EXPECT_EQ(mark("to the second", to("run-2")).status, kMarkAccepted);
  EXPECT_EQ(secondInbox.counts().accepted, 1u);
  EXPECT_EQ(inbox_.counts().accepted, 0u);
}

// A server removes its socket only while it is its own: once another has
// taken the name (the file was removed meanwhile), that one's stays.
TEST_F(MarkerSocket, AServerNeverRemovesAnothersSocket) {
  MarkerSocketServer first(inbox_, options("run"));
  const std::string path = first.path();
  ASSERT_EQ(::unlink(path.c_str()), 0);
  MarkerInbox secondInbox;
  MarkerSocketServer second(secondInbox, options("run"));
  ASSERT_EQ(second.path(), path);
  first.stop();
  EXPECT_EQ(probeMarkerSocket(path), SocketState::kLive);
  EXPECT_EQ(mark("still here").status, kMarkAccepted);
  EXPECT_EQ(secondInbox.counts().accepted, 1u);
}

// Without a runtime folder the socket goes where the caller says, made
// private; a folder others can reach is refused, as is having neither.
TEST_F(MarkerSocket, WithoutARuntimeFolderTheFallbackIsUsedIfPrivate) {
  ::unsetenv("XDG_RUNTIME_DIR");
  MarkerSocketOptions settings = options("run");
  EXPECT_THROW({ MarkerSocketServer server(inbox_, settings); }, MarkerSocketError);

  settings.fallbackFolder = runtime_ + "/beside-output/";
  {
    MarkerSocketServer server(inbox_, settings);
    EXPECT_EQ(server.path(), runtime_ + "/beside-output/run.sock");
    EXPECT_EQ(modeOf(runtime_ + "/beside-output"), 0700u);
    EXPECT_EQ(mark("no folder given").status, kMarkNoRecording);
    EXPECT_EQ(mark("folder given", lookingIn(settings.fallbackFolder)).status, kMarkAccepted);
  }

  const std::string open = runtime_ + "/open";
  ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
  settings.fallbackFolder = open;
  try {
    MarkerSocketServer server(inbox_, settings);
    ADD_FAILURE() << "a folder others can enter was taken";
  } catch (const MarkerSocketError& error) {
    EXPECT_THAT(error.what(), HasSubstr(open + " can be reached by other users (mode 0755)"));
  }
  EXPECT_FALSE(std::filesystem::exists(open + "/run.sock"));

  // A runtime folder whose bvhost/ others can reach is passed over too.
  ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  ASSERT_EQ(::mkdir(folder().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(folder().c_str(), 0755), 0);
  settings.fallbackFolder = runtime_ + "/beside-output";
  MarkerSocketServer server(inbox_, settings);
  EXPECT_THAT(server.path(), StartsWith(runtime_ + "/beside-output/"));
}
