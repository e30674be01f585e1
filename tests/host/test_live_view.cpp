// The live view seen from outside: a page that stalls changes nothing in the
// files, the server listens on loopback only, and a page that loses its
// stream picks it up again. (The page itself is judged in Chromium by
// scripts/live_view_in_chromium.py.)
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli_runner.h"
#include "edf_header.h"

namespace {

using namespace std::chrono_literals;

const std::map<std::string, std::string> kSimulator = {{"ORVANE_SIM_SENSORS", "4"},
                                                       {"ORVANE_SIM_SEED", "11"}};

// The port of the "Live view: http://127.0.0.1:PORT/" line, once printed.
int waitForPort(const std::string& stdoutPath) {
  const std::regex address(R"(Live view: http://127\.0\.0\.1:(\d+)/)");
  for (int i = 0; i < 200; ++i) {
    std::smatch match;
    const std::string out = readFile(stdoutPath);
    if (std::regex_search(out, match, address)) {
      return std::stoi(match[1]);
    }
    std::this_thread::sleep_for(25ms);
  }
  return 0;
}

// A page's connection that asks for the stream and then never reads: its
// receive buffer is made tiny so the server's writes stall at once.
int stalledPage(int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  const int tiny = 256;
  setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socket);
    return -1;
  }
  const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  if (send(socket, request.data(), request.size(), 0) < 0) {
    close(socket);
    return -1;
  }
  return socket;
}

// Every byte of every data record except the annotation signal, whose
// time-keeping carries the wall-clock start of the run.
std::string signalBytes(const std::string& path) {
  const std::string bytes = readFile(path);
  const bvhost::EdfHeader header = bvhost::parseEdfHeader(bytes);
  std::string signals;
  for (std::size_t at = header.headerBytes; at + header.bytesPerRecord <= bytes.size();
       at += header.bytesPerRecord) {
    for (const auto& signal : header.signals) {
      if (!signal.annotation) {
        signals.append(bytes, at + signal.offsetInRecord, signal.bytesInRecord);
      }
    }
  }
  return signals;
}

std::string withoutFirstLine(const std::string& text) { return text.substr(text.find('\n') + 1); }

TEST(LiveView, StalledPagesLeaveTheFilesAsARunWithoutTheView) {
  const std::string directory = scratchDirectory("live_stalled");
  const auto record = [&](const std::string& name, bool live) {
    std::vector<std::string> arguments = {"record",    KESSRA_PLUGIN_PATH,
                                          "--seconds", "4",
                                          "--out",     directory + "/" + name + ".bdf",
                                          "--out",     directory + "/" + name + ".csv"};
    if (live) {
      arguments.insert(arguments.end(), {"--live", "--port", "0"});
    }
    std::vector<int> pages;
    const CliRun run = runBvhostWhile(arguments, kSimulator, [&](int, const std::string& out) {
      if (!live) {
        return;
      }
      const int port = waitForPort(out);
      ASSERT_NE(port, 0) << readFile(out);
      for (int i = 0; i < 3; ++i) {
        pages.push_back(stalledPage(port));
        ASSERT_GE(pages.back(), 0);
      }
    });
    for (const int page : pages) {
      close(page);
    }
    return run;
  };
  const CliRun viewed = record("viewed", true);
  ASSERT_EQ(viewed.exitCode, 0) << viewed.err;
  const CliRun plain = record("plain", false);
  ASSERT_EQ(plain.exitCode, 0) << plain.err;

  const std::string viewedSignals = signalBytes(directory + "/viewed.bdf");
  EXPECT_GT(viewedSignals.size(), 4 * 250 * 3 * (26 + 6 * 2));  // 4 sensors, 3 bytes a sample
  EXPECT_TRUE(viewedSignals == signalBytes(directory + "/plain.bdf"));
  EXPECT_EQ(withoutFirstLine(readFile(directory + "/viewed.csv")),
            withoutFirstLine(readFile(directory + "/plain.csv")));
}

// The listening sockets of a process, as "ADDRESS:PORT" in /proc/net's hex,
// each with the table (tcp or tcp6) it is in.
std::set<std::string> listeningSockets(int pid) {
  std::set<std::string> inodes;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.rfind("socket:[", 0) == 0) {
      inodes.insert(target.substr(8, target.size() - 9));
    }
  }
  std::set<std::string> listening;
  for (const std::string table : {"tcp", "tcp6"}) {
    std::ifstream file("/proc/net/" + table);
    std::string line;
    std::getline(file, line);
    while (std::getline(file, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode;
      if (state == "0A" && inodes.count(inode) != 0) {
        listening.insert(table + " " + local);
      }
    }
  }
  return listening;
}

// Listening is the view's only exposure: loopback by default, a port no
// second bvhost can quietly share, and no answer to a page that reached it
// under another name (DNS rebinding).
TEST(LiveView, ListensOnLoopbackOnlyAndAlone) {
  std::set<std::string> sockets;
  int port = 0;
  CliRun second;
  int foreignHost = 0;
  const CliRun run = runBvhostWhile(
      {"monitor", KESSRA_PLUGIN_PATH, "--seconds", "3", "--port", "0"}, kSimulator,
      [&](int pid, const std::string& out) {
        port = waitForPort(out);
        sockets = listeningSockets(pid);
        second = runBvhost(
            {"monitor", KESSRA_PLUGIN_PATH, "--seconds", "1", "--port", std::to_string(port)},
            kSimulator);
        httplib::Client client("127.0.0.1", port);
        const auto answer = client.Get("/", {{"Host", "attacker.example"}});
        foreignHost = answer ? answer->status : -1;
      });
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_NE(port, 0) << run.out;
  char expected[32];
  std::snprintf(expected, sizeof expected, "tcp 0100007F:%04X", port);
  EXPECT_EQ(sockets, std::set<std::string>{expected});
  EXPECT_EQ(second.exitCode, 2) << second.out;
  EXPECT_NE(second.err.find("cannot listen on 127.0.0.1 port"), std::string::npos) << second.err;
  EXPECT_EQ(foreignHost, 403);
}

// Everything a page's stream carried until `enough` said so, or it ended.
std::string streamText(int port, const std::function<bool(const std::string&)>& enough) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(5, 0);
  std::string text;
  client.Get("/events", [&](const char* data, std::size_t length) {
    text.append(data, length);
    return !enough(text);
  });
  return text;
}

TEST(LiveView, APageLearnsWhyARunFailed) {
  const std::string directory = scratchDirectory("live_failed");
  std::string text;
  const CliRun run = runBvhostWhile({"record", FAILING_READ_PATH, "--seconds", "5", "--out",
                                     directory + "/x.csv", "--live", "--port", "0"},
                                    {}, [&](int, const std::string& out) {
                                      text = streamText(waitForPort(out),
                                                        [](const std::string&) { return false; });
                                    });
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_NE(text.find(R"("ended":true)"), std::string::npos) << text.substr(0, 300);
  EXPECT_NE(text.find("Sensor link lost"), std::string::npos) << text.substr(text.size() - 300);
}

// The newest frame a page's stream carried once it was ten past
// `seenBefore`, or -1 if it had none.
long long readStream(int port, long long seenBefore) {
  const std::regex frames(R"(event: frames\ndata: \{"first":(\d+),"count":(\d+))");
  long long newest = -1;
  streamText(port, [&](const std::string& text) {
    for (std::sregex_iterator match(text.begin(), text.end(), frames), end; match != end; ++match) {
      newest = std::max(newest, std::stoll((*match)[1]) + std::stoll((*match)[2]) - 1);
    }
    return newest > seenBefore + 10;
  });
  return newest;
}

TEST(LiveView, APageThatReconnectsPicksUpTheLiveStream) {
  long long first = -1;
  long long second = -1;
  const CliRun run =
      runBvhostWhile({"monitor", KESSRA_PLUGIN_PATH, "--seconds", "4", "--port", "0"}, kSimulator,
                     [&](int, const std::string& out) {
                       const int port = waitForPort(out);
                       first = readStream(port, -1);
                       std::this_thread::sleep_for(500ms);
                       second = readStream(port, first);
                     });
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_GE(first, 0);
  EXPECT_GT(second, first + 10) << "the second connection got no frames newer than the first";
}

}  // namespace
