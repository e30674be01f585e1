// The live view seen from outside: a page that stalls changes nothing in the
// files, the server listens on loopback only and lets in only whom it should,
// idle connections cannot crowd out a page, and a page that loses its stream
// picks it up again. (The page itself is judged in Chromium by
// scripts/live_view_in_chromium.py.)
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli_runner.h"
#include "files/edf_header.h"
#include "live/live_access.h"

namespace {

using namespace std::chrono_literals;

const std::map<std::string, std::string> kSimulator = {{"ORVANE_SIM_SENSORS", "4"},
                                                       {"ORVANE_SIM_SEED", "11"}};

// The groups of the address line bvhost printed, once it has; none if it
// never did.
std::vector<std::string> waitForAddress(const std::string& stdoutPath, const std::regex& address) {
  for (int i = 0; i < 200; ++i) {
    std::smatch match;
    const std::string out = readFile(stdoutPath);
    if (std::regex_search(out, match, address)) {
      return {match.begin(), match.end()};
    }
    std::this_thread::sleep_for(25ms);
  }
  return {};
}

// The port of the "Live view: http://127.0.0.1:PORT/" line, once printed.
int waitForPort(const std::string& stdoutPath) {
  const auto match =
      waitForAddress(stdoutPath, std::regex(R"(Live view: http://127\.0\.0\.1:(\d+)/)"));
  return match.empty() ? 0 : std::stoi(match[1]);
}

// A connection to the view on loopback, or -1.
int connectTo(int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socket);
    return -1;
  }
  return socket;
}

// A page's connection that asks for the stream and then never reads: its
// receive buffer is made tiny so the server's writes stall at once.
int stalledPage(int port) {
  const int socket = connectTo(port);
  const int tiny = 256;
  setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
  const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  if (socket < 0 || send(socket, request.data(), request.size(), 0) < 0) {
    close(socket);
    return -1;
  }
  return socket;
}

// The status line the view answers `request` with, sent as written (so
// without a Host header if it has none), or "" if none came within 20 s.
std::string statusLine(int port, const std::string& request) {
  const int socket = connectTo(port);
  const timeval patience{20, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  std::string answer;
  if (socket >= 0 && send(socket, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
    char buffer[512];
    ssize_t got = 0;
    while (answer.find("\r\n") == std::string::npos &&
           (got = recv(socket, buffer, sizeof buffer, 0)) > 0) {
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(socket);
  return answer.substr(0, answer.find("\r\n"));
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
  std::map<std::string, std::string> answers;
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
        for (const std::string host : {"127.evil.example", "", "localhost:8642"}) {
          answers[host] = statusLine(port, "GET / HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        }
        answers["no Host"] = statusLine(port, "GET /events HTTP/1.1\r\n\r\n");
      });
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_NE(port, 0) << run.out;
  char expected[32];
  std::snprintf(expected, sizeof expected, "tcp 0100007F:%04X", port);
  EXPECT_EQ(sockets, std::set<std::string>{expected});
  EXPECT_EQ(second.exitCode, 2) << second.out;
  EXPECT_NE(second.err.find("cannot listen on 127.0.0.1 port"), std::string::npos) << second.err;
  EXPECT_EQ(foreignHost, 403);
  EXPECT_EQ(answers["127.evil.example"], "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(answers[""], "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(answers["no Host"], "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(answers["localhost:8642"], "HTTP/1.1 200 OK");
}

// The rule itself, on the names a rebinding page or a sloppy check would
// let through.
TEST(LiveAccess, OnLoopbackOnlyThisMachinesOwnNamesAreServed) {
  const bvhost::LiveAccess loopback;
  for (const std::string host : {"127.0.0.1", "127.0.0.1:8642", "127.255.0.9:1", "localhost",
                                 "localhost:65535", "LocalHost", "[::1]", "[::1]:8642"}) {
    EXPECT_FALSE(bvhost::refusal(loopback, host, std::nullopt)) << host;
  }
  for (const std::string host :
       {"127.evil.example", "127.0.0.1.evil", "127.1",           "127.0.0.256",
        "127.0.0.01",       "128.0.0.1",      "localhost.evil",  "evil.localhost",
        "localhost.",       "[::1",           "[::2]",           "[::1].evil",
        "127.0.0.1:",       "127.0.0.1:0",    "127.0.0.1:65536", "localhost:99999",
        "localhost:80x",    "localhost:+80",  "[::1]:http",      "127.0.0.1 ",
        " localhost"}) {
    const auto refused = bvhost::refusal(loopback, host, std::nullopt);
    ASSERT_TRUE(refused) << host;
    EXPECT_EQ(refused->status, 403) << host;
  }
  for (const auto& host : {std::optional<std::string>(""), std::optional<std::string>()}) {
    const auto refused = bvhost::refusal(loopback, host, std::nullopt);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
  }
}

TEST(LiveAccess, OffLoopbackTheTokenIsTheGuard) {
  const bvhost::LiveAccess network{false, "0123456789abcdef0123456789abcdef"};
  // Off loopback the page is reached under whatever name the network gives
  // this machine.
  EXPECT_FALSE(bvhost::refusal(network, "bench-pc.lan:8642", network.token));
  EXPECT_FALSE(bvhost::refusal(network, "192.168.1.20", network.token));
  for (const auto& token : {std::optional<std::string>(), std::optional<std::string>(""),
                            std::optional<std::string>("0123456789abcdef0123456789abcdeF"),
                            std::optional<std::string>("0123456789abcdef0123456789abcde"),
                            std::optional<std::string>("0123456789abcdef0123456789abcdef0")}) {
    const auto refused = bvhost::refusal(network, "127.0.0.1", token);
    ASSERT_TRUE(refused) << token.value_or("(none)");
    EXPECT_EQ(refused->status, 403);
  }
  EXPECT_EQ(bvhost::refusal(network, "", network.token)->status, 400);
  // A server that somehow has no token lets no one in rather than everyone.
  EXPECT_TRUE(bvhost::refusal(bvhost::LiveAccess{false, ""}, "bench-pc", ""));
}

// Off loopback: the address printed carries the token, and nothing is
// served without it, whatever the host named.
TEST(LiveView, OffLoopbackThePrintedTokenIsNeeded) {
  std::vector<std::string> address;
  std::map<std::string, std::string> answers;
  std::string page;
  std::string stream;
  const CliRun run = runBvhostWhile(
      {"monitor", KESSRA_PLUGIN_PATH, "--seconds", "3", "--listen", "0.0.0.0", "--port", "0"},
      kSimulator, [&](int, const std::string& out) {
        address = waitForAddress(
            out, std::regex(R"(Live view: http://[^/\s]+:(\d+)/\?token=([0-9a-f]+)\n)"));
        ASSERT_EQ(address.size(), 3u) << readFile(out);
        const int port = std::stoi(address[1]);
        const std::string& token = address[2];
        for (const std::string& target : std::vector<std::string>{
                 "/", "/events", "/?token=", "/events?token=" + token.substr(1)}) {
          answers[target] =
              statusLine(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        }
        httplib::Client client("127.0.0.1", port);
        const auto answer = client.Get("/?token=" + token);
        page = answer && answer->status == 200 ? answer->body : "";
        stream = statusLine(
            port, "GET /events?token=" + token + " HTTP/1.1\r\nHost: attacker.example\r\n\r\n");
      });
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(address.size(), 3u);
  EXPECT_GE(address[2].size(), 32u) << "fewer than 128 bits";
  for (const auto& [target, status] : answers) {
    EXPECT_EQ(status, "HTTP/1.1 403 Forbidden") << target;
  }
  EXPECT_NE(page.find("bvhost live view"), std::string::npos);
  EXPECT_EQ(stream, "HTTP/1.1 200 OK");
}

// A connection that sends one byte of a request every 200 ms for as long as
// `going` holds, and says whether the server cut it off.
void trickle(int socket, const std::atomic<bool>& going, std::atomic<int>& cutOff) {
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Filler: ";
  for (std::size_t i = 0; going; ++i) {
    const char byte = i < request.size() ? request[i] : 'x';
    if (send(socket, &byte, 1, MSG_NOSIGNAL) != 1) {
      ++cutOff;
      return;
    }
    std::this_thread::sleep_for(200ms);
  }
}

// Twelve pages streaming, then connections that send nothing or send
// slowly, as browsers' speculative ones and a careless or hostile client
// do: the page must still load, a thirteenth stream is refused, and the
// idle and slow connections are closed.
TEST(LiveView, IdleConnectionsAndTwelveStreamsLeaveThePageLoading) {
  std::string thirteenth;
  int pageStatus = 0;
  int opened = 0;
  std::atomic<int> silentClosed = 0;
  std::atomic<int> slowCutOff = 0;
  const CliRun run = runBvhostWhile(
      {"monitor", KESSRA_PLUGIN_PATH, "--seconds", "60", "--port", "0"}, kSimulator,
      [&](int pid, const std::string& out) {
        const int port = waitForPort(out);
        ASSERT_NE(port, 0) << readFile(out);
        std::atomic<bool> going = true;
        std::atomic<int> streaming = 0;
        std::vector<std::thread> threads;
        for (int i = 0; i < 12; ++i) {
          threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(30, 0);
            bool counted = false;
            client.Get("/events", [&](const char*, std::size_t) {
              if (!counted) {
                counted = true;
                ++streaming;
              }
              return going.load();
            });
          });
        }
        for (int i = 0; i < 400 && streaming < 12; ++i) {
          std::this_thread::sleep_for(25ms);
        }
        opened = streaming;
        thirteenth = statusLine(port, "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");

        std::vector<int> sockets;
        for (int i = 0; i < 20; ++i) {
          sockets.push_back(connectTo(port));
          if (i % 2 == 1) {
            threads.emplace_back(trickle, sockets.back(), std::cref(going), std::ref(slowCutOff));
          }
        }
        std::this_thread::sleep_for(200ms);
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(20, 0);
        const auto page = client.Get("/");
        pageStatus = page ? page->status : -1;

        for (int i = 0; i < 20; i += 2) {
          const timeval patience{15, 0};
          setsockopt(sockets[i], SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
          char byte;
          silentClosed += recv(sockets[i], &byte, 1, 0) == 0 ? 1 : 0;
        }
        for (int i = 0; i < 75 && slowCutOff < 10; ++i) {
          std::this_thread::sleep_for(200ms);
        }
        going = false;
        for (auto& thread : threads) {
          thread.join();
        }
        for (const int socket : sockets) {
          close(socket);
        }
        kill(pid, SIGINT);
      });
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(opened, 12);
  EXPECT_EQ(thirteenth, "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(pageStatus, 200);
  EXPECT_EQ(silentClosed, 10) << "connections that never sent stayed open";
  EXPECT_EQ(slowCutOff, 10) << "connections that sent slowly stayed open";
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
