// Markers during bvhost record, as a user sends them: through the run's
// socket (raw, and with `bvhost mark`) and a pipe on stdin. They are read
// back with MNE-Python, an independent reader, and judged against the
// moment they were sent, which the simulator's log of its start puts on the
// stream's time line: frame k was captured from k periods after it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_runner.h"

using ::testing::HasSubstr;

namespace {

constexpr double kFrameSeconds = 0.0135;

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Sent {
  std::string text;
  double sent = 0.0;      // before the first byte left
  double answered = 0.0;  // once bvhost had it: its reply, or the pipe empty
  std::string reply;
};

struct Note {
  double onset = 0.0;
  double duration = 0.0;
  std::string text;
};

// A folder of its own for a run's marker socket, private as bvhost wants.
std::string runtimeFolder(const std::string& directory) {
  const std::string folder = directory + "/runtime";
  std::filesystem::create_directories(folder);
  ::chmod(folder.c_str(), 0700);
  return folder;
}

bool waitForFile(const std::string& path, double seconds) {
  const double until = now() + seconds;
  while (!std::filesystem::exists(path)) {
    if (now() > until) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// One marker (or whatever bytes) on a connection of its own, with the time
// before sending and once the reply line came.
Sent sendRaw(const std::string& socketPath, const std::string& bytes) {
  Sent sent;
  sent.text = bytes.substr(0, bytes.find('\n'));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  sent.sent = now();
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
    ::close(fd);
    return sent;
  }
  char buffer[256];
  while (sent.reply.find('\n') == std::string::npos) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      break;
    }
    sent.reply.append(buffer, static_cast<std::size_t>(got));
  }
  sent.answered = now();
  ::close(fd);
  sent.reply = sent.reply.substr(0, sent.reply.find('\n'));
  return sent;
}

// The simulator's start on the steady clock, in seconds.
double simulatorStart(const std::string& log) {
  std::ifstream lines(log);
  std::string word;
  long long nanoseconds = 0;
  lines >> word >> nanoseconds;
  EXPECT_EQ(word, "start") << log;
  return static_cast<double>(nanoseconds) / 1e9;
}

bool haveMne() { return std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") == 0; }

std::vector<Note> parseNotes(const std::string& text, bool header) {
  std::vector<Note> notes;
  std::istringstream lines(text);
  std::string line;
  if (header) {
    std::getline(lines, line);
    EXPECT_EQ(line, "onset\tduration\ttrial_type");
  }
  while (std::getline(lines, line)) {
    const auto first = line.find('\t');
    const auto second = line.find('\t', first + 1);
    if (first == std::string::npos || second == std::string::npos) {
      ADD_FAILURE() << "not a row: " << line;
      continue;
    }
    notes.push_back({std::stod(line.substr(0, first)),
                     std::stod(line.substr(first + 1, second - first - 1)),
                     line.substr(second + 1)});
  }
  return notes;
}

// What a shell command printed, stderr too; it must succeed.
std::string commandOutput(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) {
      text.append(buffer, got);
    }
    EXPECT_EQ(::pclose(pipe), 0) << command << "\n" << text;
  }
  return text;
}

// The annotations as MNE-Python reads them.
std::vector<Note> readWithMne(const std::string& path) {
  return parseNotes(
      commandOutput("/usr/bin/python3 " SCRIPTS_DIR "/read_annotations.py '" + path + "'"), false);
}

// The events.tsv holds what the file holds, each text (all differ) at the
// same time; the order of those of one onset is the reader's to choose.
void expectEventsMatch(const std::vector<Note>& events, const std::vector<Note>& annotations) {
  ASSERT_EQ(events.size(), annotations.size());
  std::map<std::string, const Note*> byText;
  for (const Note& annotation : annotations) {
    ASSERT_TRUE(byText.emplace(annotation.text, &annotation).second) << annotation.text;
  }
  for (const Note& event : events) {
    const auto found = byText.find(event.text);
    ASSERT_NE(found, byText.end()) << event.text;
    EXPECT_NEAR(event.onset, found->second->onset, 1.5e-6) << event.text;
    EXPECT_NEAR(event.duration, found->second->duration, 1.5e-6) << event.text;
  }
}

// Where repair says a file's data ends, as it does when annotations lie
// after it; otherwise the end of time.
constexpr const char* kAfterData = " annotation(s) set after its data ends at ";

double dataEndSaid(const std::string& said) {
  const auto at = said.find(kAfterData);
  return at == std::string::npos ? std::numeric_limits<double>::infinity()
                                 : std::stod(said.substr(at + std::strlen(kAfterData)));
}

std::size_t saidAfterData(const std::string& said) {
  const auto at = said.find(kAfterData);
  if (at == std::string::npos) {
    return 0;
  }
  const auto start = said.rfind(' ', at - 1) + 1;
  return std::stoul(said.substr(start, at - start));
}

std::vector<Note> notesBefore(const std::vector<Note>& notes, double end) {
  std::vector<Note> kept;
  std::copy_if(notes.begin(), notes.end(), std::back_inserter(kept),
               [end](const Note& note) { return note.onset < end; });
  return kept;
}

const Note* find(const std::vector<Note>& notes, const std::string& text) {
  const auto found =
      std::find_if(notes.begin(), notes.end(), [&](const Note& note) { return note.text == text; });
  return found == notes.end() ? nullptr : &*found;
}

struct Accuracy {
  double earliest = 1.0;  // onset less the stream time it was sent at
  double latest = -1.0;
  double slowest = 0.0;  // from sending until bvhost had it
};

// Each marker lies where it was sent on the stream's time line: no more
// than a frame before (the device's lag is known to within one), nor later
// than a frame plus however long it took to reach bvhost.
void expectOnTime(const std::vector<Note>& annotations, const std::vector<Sent>& sent, double start,
                  Accuracy& accuracy) {
  for (const Sent& marker : sent) {
    const Note* note = find(annotations, marker.text);
    ASSERT_NE(note, nullptr) << marker.text << " is not in the file";
    EXPECT_EQ(note->duration, 0.0) << marker.text;
    const double error = note->onset - (marker.sent - start);
    const double latency = marker.answered - marker.sent;
    EXPECT_GE(error, -kFrameSeconds) << marker.text;
    EXPECT_LE(error, kFrameSeconds + latency) << marker.text;
    accuracy.earliest = std::min(accuracy.earliest, error);
    accuracy.latest = std::max(accuracy.latest, error);
    accuracy.slowest = std::max(accuracy.slowest, latency);
  }
}

std::string milliseconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ms", seconds * 1000.0);
  return text;
}

}  // namespace

// Markers by every way in land where they were sent, in the BDF+ file as
// MNE reads it and in the events.tsv the BDF+ and CSV files share; one sent
// before the stream started and one that is no UTF-8 are refused, with the
// reason, and counted in the summary.
TEST(RecordMarkers, EveryWayInLandsWhereItWasSent) {
  if (!haveMne()) {
    GTEST_SKIP() << "MNE-Python (Debian python3-mne) is not installed";
  }
  const std::string directory = scratchDirectory("markers");
  const std::string runtime = runtimeFolder(directory);
  const std::string log = directory + "/start.log";
  const std::map<std::string, std::string> environment = {{"ORVANE_SIM_SEED", "31"},
                                                          {"ORVANE_SIM_SENSORS", "4"},
                                                          {"ORVANE_SIM_START_LOG", log},
                                                          {"XDG_RUNTIME_DIR", runtime}};
  const std::string socket = runtime + "/bvhost/run.bdf.sock";
  std::vector<Sent> socketSent;
  std::vector<Sent> pipeSent;
  CliRun early;
  CliRun marked;
  Sent byMark;
  Sent invalid;
  const CliRun run = runBvhostFed(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "5", "--out", directory + "/run.bdf", "--out",
       directory + "/run.csv", "--markers-from-stdin"},
      environment, [&](int, int input) {
        ASSERT_TRUE(waitForFile(socket, 20.0));
        // The plug-in's start alone takes a second: this comes before it.
        early = runBvhost({"mark", "early"}, environment);
        Sent first;
        const double until = now() + 20.0;
        do {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          first = sendRaw(socket, "first\n");
        } while (first.reply != "ok" && now() < until);
        ASSERT_EQ(first.reply, "ok");
        socketSent.push_back(first);
        for (int i = 1; i <= 12; ++i) {
          // A step that is no whole number of frames, so the markers fall
          // at every point of a frame.
          std::this_thread::sleep_for(std::chrono::microseconds(61700));
          socketSent.push_back(sendRaw(socket, "socket " + std::to_string(i) + "\n"));
          Sent piped{"pipe " + std::to_string(i), now(), 0.0, ""};
          const std::string line = piped.text + "\n";
          ASSERT_EQ(::write(input, line.data(), line.size()), static_cast<ssize_t>(line.size()));
          int waiting = 1;
          while (::ioctl(input, FIONREAD, &waiting) == 0 && waiting > 0) {
            std::this_thread::yield();
          }
          piped.answered = now();
          pipeSent.push_back(piped);
        }
        byMark.text = "by bvhost mark";
        byMark.sent = now();
        marked = runBvhost({"mark", byMark.text, "--to", "run.bdf"}, environment);
        byMark.answered = now();
        invalid = sendRaw(socket, "bad \xff byte\n");
      });

  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Markers: bvhost mark TEXT [--to run.bdf]"));
  EXPECT_EQ(early.exitCode, 1) << early.err;
  EXPECT_THAT(early.err, HasSubstr("refused: the recording has not started yet"));
  EXPECT_EQ(marked.exitCode, 0) << marked.err;
  EXPECT_EQ(marked.out, "ok\n");
  EXPECT_EQ(invalid.reply, "refused: invalid UTF-8 at byte offset 4 (0xff)");
  // Typed or piped markers are answered on stderr only when refused or
  // changed; none of these was.
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("marker")));
  // Refused before the start: "early", and the tries of "first" until it
  // was taken.
  std::smatch counted;
  ASSERT_TRUE(std::regex_search(
      run.out, counted,
      std::regex(R"(Markers: 26 recorded, (\d+) refused \((\d+) before the stream started, 1 )"
                 R"(not a marker \(not UTF-8, empty or too long\)\)\n)")))
      << run.out;
  EXPECT_EQ(std::stoi(counted[1]), std::stoi(counted[2]) + 1);

  const double start = simulatorStart(log);
  const std::vector<Note> annotations = readWithMne(directory + "/run.bdf");
  ASSERT_EQ(annotations.size(), 26u);
  // What was measured, for the figures host/README.md gives.
  const auto judge = [&](const char* way, const std::vector<Sent>& markers) {
    Accuracy accuracy;
    expectOnTime(annotations, markers, start, accuracy);
    ::testing::Test::RecordProperty(
        std::string(way) + "_onset_less_sent",
        milliseconds(accuracy.earliest) + " to " + milliseconds(accuracy.latest));
    ::testing::Test::RecordProperty(std::string(way) + "_slowest_delivery",
                                    milliseconds(accuracy.slowest));
    std::printf("%s: onset less the time sent %s to %s, delivered within %s\n", way,
                milliseconds(accuracy.earliest).c_str(), milliseconds(accuracy.latest).c_str(),
                milliseconds(accuracy.slowest).c_str());
  };
  judge("socket", socketSent);
  judge("pipe", pipeSent);
  judge("bvhost_mark", {byMark});

  expectEventsMatch(parseNotes(readFile(directory + "/run_events.tsv"), true), annotations);
  EXPECT_THAT(run.out, HasSubstr("Wrote " + directory + "/run_events.tsv"));
  // The CSV file's journal went once the events.tsv held its notes.
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    EXPECT_FALSE(entry.path().string().ends_with(".annotations")) << entry.path();
  }
}

// `bvhost mark` with no recording running says so, and a run killed with
// SIGKILL keeps every marker it had taken a moment before: `bvhost repair`
// puts them into the BDF+ file and, for the CSV file, into its events.tsv.
TEST(RecordMarkers, AKilledRunKeepsItsMarkersThroughRepair) {
  const std::string directory = scratchDirectory("markers_killed");
  const std::string runtime = runtimeFolder(directory);
  const std::map<std::string, std::string> environment = {
      {"ORVANE_SIM_SEED", "32"}, {"ORVANE_SIM_SENSORS", "2"}, {"XDG_RUNTIME_DIR", runtime}};
  // A runtime folder of bvhost's, so the answer comes from it alone and not
  // from another test's run in the fallback folder.
  std::filesystem::create_directory(runtime + "/bvhost");
  ::chmod((runtime + "/bvhost").c_str(), 0700);
  const CliRun none = runBvhost({"mark", "anyone?"}, environment);
  EXPECT_EQ(none.exitCode, 8) << none.err;
  EXPECT_THAT(none.err, HasSubstr("no recording is running"));

  const std::string socket = runtime + "/bvhost/run.bdf.sock";
  std::vector<Sent> sent;
  // Five markers taken, the last a moment before the kill; all but the
  // first after the CSV rows' first trip to the disk, about a second in,
  // so the CSV file is no empty one that repair would refuse.
  const auto sendThenKill = [&](int pid, const std::string&) {
    const double until = now() + 20.0;
    while (sent.size() < 5 && now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(sent.size() == 1 ? 1200 : 97));
      Sent marker = sendRaw(socket, "kept " + std::to_string(sent.size()) + "\n");
      if (marker.reply == "ok") {
        sent.push_back(marker);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ::kill(pid, SIGKILL);
  };
  const CliRun run = runBvhostWhile({"record", KESSRA_PLUGIN_PATH, "--seconds", "60", "--out",
                                     directory + "/run.bdf", "--out", directory + "/rows.csv"},
                                    environment, sendThenKill);
  ASSERT_EQ(run.killedBy, SIGKILL);
  ASSERT_EQ(sent.size(), 5u);

  std::string bdf;
  std::string csv;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string path = entry.path().string();
    if (path.find(".partial-") != std::string::npos && path.ends_with(".bdf")) {
      bdf = path;
    } else if (path.find(".partial-") != std::string::npos && path.ends_with(".csv")) {
      csv = path;
    }
  }
  ASSERT_FALSE(bdf.empty());
  ASSERT_FALSE(csv.empty());
  const CliRun repairedBdf = runBvhost({"repair", bdf});
  ASSERT_EQ(repairedBdf.exitCode, 0) << repairedBdf.err;
  EXPECT_THAT(repairedBdf.out, HasSubstr("written to " + directory + "/run_events.tsv"));
  const CliRun repairedCsv = runBvhost({"repair", csv});
  ASSERT_EQ(repairedCsv.exitCode, 0) << repairedCsv.err;
  EXPECT_THAT(repairedCsv.out,
              HasSubstr("5 event(s) written to " + directory + "/rows_events.tsv"));
  EXPECT_FALSE(std::filesystem::exists(csv + ".annotations"));

  const std::vector<Note> rows = parseNotes(readFile(directory + "/rows_events.tsv"), true);
  ASSERT_EQ(rows.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].text, "kept " + std::to_string(i));
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].duration, 0.0);
  }
  if (!haveMne()) {
    GTEST_SKIP() << "MNE-Python (Debian python3-mne) is not installed";
  }
  // A marker set a moment before the kill may lie beyond the samples that
  // reached the file; repair says so, and MNE leaves it out.
  const double dataEnd = dataEndSaid(repairedBdf.out);
  const std::vector<Note> events = parseNotes(readFile(directory + "/run_events.tsv"), true);
  const std::vector<Note> inData = notesBefore(events, dataEnd);
  EXPECT_EQ(saidAfterData(repairedBdf.out), events.size() - inData.size()) << repairedBdf.out;
  const std::vector<Note> annotations = readWithMne(directory + "/run.bdf");
  expectEventsMatch(inData, annotations);
  expectEventsMatch(notesBefore(rows, dataEnd), annotations);
}

namespace {

struct Flood {
  std::uint64_t accepted = 0;
  std::uint64_t refusedFull = 0;
  std::uint64_t refusedNoRoom = 0;
  std::uint64_t otherReplies = 0;
  std::string firstOther;
};

// `count` markers as fast as one connection takes them, the replies read
// meanwhile, as a script gone wild would send them.
Flood flood(const std::string& socketPath, int count) {
  Flood result;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot connect: " << std::strerror(errno);
    ::close(fd);
    return result;
  }
  std::thread reader([&] {
    std::string pending;
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) {
        break;
      }
      pending.append(buffer, static_cast<std::size_t>(got));
      std::size_t start = 0;
      for (auto end = pending.find('\n'); end != std::string::npos;
           start = end + 1, end = pending.find('\n', start)) {
        const std::string line = pending.substr(start, end - start);
        if (line == "ok") {
          ++result.accepted;
        } else if (line == "refused: 1024 markers are waiting for the recording already") {
          ++result.refusedFull;
        } else if (line.starts_with("refused: the recording's file has no room for more")) {
          ++result.refusedNoRoom;
        } else if (result.otherReplies++ == 0) {
          result.firstOther = line;
        }
      }
      pending.erase(0, start);
    }
  });
  std::string lines;
  for (int i = 1; i <= count; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "f%05d\n", i);
    lines += line;
  }
  std::size_t sent = 0;
  while (sent < lines.size()) {
    const ssize_t put = ::send(fd, lines.data() + sent, lines.size() - sent, MSG_NOSIGNAL);
    if (put <= 0) {
      ADD_FAILURE() << "send: " << std::strerror(errno);
      break;
    }
    sent += static_cast<std::size_t>(put);
  }
  ::shutdown(fd, SHUT_WR);
  reader.join();
  ::close(fd);
  return result;
}

int connectIdle(const std::string& socketPath) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  return fd;
}

std::string mneComparison(const std::string& clean, const std::string& flooded) {
  // No sensor is silent in either: every sample of every channel compares.
  return commandOutput("/usr/bin/python3 " SCRIPTS_DIR "/compare_with_mne.py '" + clean + "' '" +
                       flooded + "' none 0 0");
}

}  // namespace

namespace {

// Ten thousand markers at once, and clients that connect and never send,
// during a run of `sensors`: the samples are those of a run of the same
// seed without them, every marker answered "ok" is in the file and its
// events.tsv, in order, and what was refused is counted in the summary.
void expectFloodChangesNoSample(const std::string& sensors, const std::string& channels,
                                Flood& sent) {
  const std::string directory = scratchDirectory("markers_flood_" + sensors);
  const std::string runtime = runtimeFolder(directory);
  std::map<std::string, std::string> environment = {
      {"ORVANE_SIM_SEED", "33"}, {"ORVANE_SIM_SENSORS", sensors}, {"XDG_RUNTIME_DIR", runtime}};
  const std::vector<std::string> record = {"record", KESSRA_PLUGIN_PATH, "--seconds", "8"};
  std::vector<std::string> cleanRun = record;
  cleanRun.insert(cleanRun.end(), {"--out", directory + "/clean.bdf"});
  const CliRun clean = runBvhost(cleanRun, environment);
  ASSERT_EQ(clean.exitCode, 0) << clean.err;

  const std::string socket = runtime + "/bvhost/flooded.bdf.sock";
  std::vector<int> idle;
  const auto floodWhileRunning = [&](int, const std::string&) {
    const double until = now() + 20.0;
    while (sendRaw(socket, "probe\n").reply != "ok" && now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (int i = 0; i < 3; ++i) {
      idle.push_back(connectIdle(socket));
    }
    sent = flood(socket, 10000);
  };
  std::vector<std::string> floodRun = record;
  floodRun.insert(floodRun.end(), {"--out", directory + "/flooded.bdf"});
  const CliRun flooded = runBvhostWhile(floodRun, environment, floodWhileRunning);
  for (const int fd : idle) {
    ::close(fd);
  }
  ASSERT_EQ(flooded.exitCode, 0) << flooded.err;
  EXPECT_EQ(sent.otherReplies, 0u) << sent.firstOther;
  EXPECT_EQ(sent.accepted + sent.refusedFull + sent.refusedNoRoom, 10000u);
  ::testing::Test::RecordProperty("flood_accepted_" + sensors, std::to_string(sent.accepted));

  const std::string comparison =
      mneComparison(directory + "/clean.bdf", directory + "/flooded.bdf");
  EXPECT_THAT(comparison, HasSubstr("\"channels\": " + channels + ","));
  EXPECT_THAT(comparison, HasSubstr("\"moved\": []"));
  // Both hold every frame of the eight seconds.
  for (const CliRun* run : {&clean, &flooded}) {
    EXPECT_THAT(run->out, HasSubstr(" 593 frames,"));
  }

  const std::uint64_t recorded = sent.accepted + 1;  // and the probe
  std::smatch counted;
  ASSERT_TRUE(
      std::regex_search(flooded.out, counted,
                        std::regex(R"(Markers: (\d+) recorded, (\d+) refused \()"
                                   R"((?:(\d+) before the stream started, )?)"
                                   R"((?:(\d+) while too many were waiting)?)"
                                   R"((?:, )?(?:(\d+) for which the file had no room)?\))")))
      << flooded.out;
  EXPECT_EQ(std::stoull(counted[1]), recorded);
  EXPECT_EQ(counted[4].matched ? std::stoull(counted[4]) : 0u, sent.refusedFull);
  EXPECT_EQ(counted[5].matched ? std::stoull(counted[5]) : 0u, sent.refusedNoRoom);

  const std::vector<Note> events = parseNotes(readFile(directory + "/flooded_events.tsv"), true);
  ASSERT_EQ(events.size(), recorded);
  EXPECT_EQ(events.front().text, "probe");
  for (std::size_t i = 2; i < events.size(); ++i) {
    EXPECT_LT(events[i - 1].text, events[i].text) << "out of order at " << i;
    EXPECT_LE(events[i - 1].onset, events[i].onset) << i;
  }
  expectEventsMatch(events, readWithMne(directory + "/flooded.bdf"));
}

}  // namespace

TEST(RecordMarkers, AFloodChangesNoSampleAndWhatItCostsIsCounted) {
  if (!haveMne()) {
    GTEST_SKIP() << "MNE-Python (Debian python3-mne) is not installed";
  }
  Flood sent;
  expectFloodChangesNoSample("16", "112", sent);
}

// One sensor's file has room for a few hundred markers in eight seconds,
// far fewer than a flood sends: the rest are refused, none is left out of
// the file, and the run ends as it would without them.
TEST(RecordMarkers, AFloodBeyondTheFilesRoomIsRefusedNotLeftOut) {
  if (!haveMne()) {
    GTEST_SKIP() << "MNE-Python (Debian python3-mne) is not installed";
  }
  Flood sent;
  expectFloodChangesNoSample("1", "7", sent);
  EXPECT_GT(sent.refusedNoRoom, 0u);
}

// The README's example of a stimulus program, as printed there, marks a
// recording of run.bdf: three trials, each answered "ok", each in the file.
TEST(RecordMarkers, TheReadmeSnippetMarksARecording) {
  const std::string readme = readFile(SCRIPTS_DIR "/../../../README.md");
  const std::string marker = "<!-- readme-markers-snippet -->\n```python\n";
  const auto begin = readme.find(marker);
  ASSERT_NE(begin, std::string::npos) << "README has no marked markers snippet";
  const auto start = begin + marker.size();
  const std::string snippet = readme.substr(start, readme.find("```", start) - start);
  const std::string directory = scratchDirectory("markers_readme");
  const std::string runtime = runtimeFolder(directory);
  { std::ofstream(directory + "/snippet.py") << snippet; }
  const std::map<std::string, std::string> environment = {
      {"ORVANE_SIM_SEED", "35"}, {"ORVANE_SIM_SENSORS", "1"}, {"XDG_RUNTIME_DIR", runtime}};
  std::string printed;
  const auto runSnippet = [&](int pid, const std::string&) {
    const double until = now() + 20.0;
    while (sendRaw(runtime + "/bvhost/run.bdf.sock", "started\n").reply != "ok" && now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    printed = commandOutput("cd '" + directory + "' && XDG_RUNTIME_DIR='" + runtime +
                            "' /usr/bin/python3 snippet.py");
    ::kill(pid, SIGINT);
  };
  const CliRun run = runBvhostWhile(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "60", "--out", directory + "/run.bdf"},
      environment, runSnippet);
  EXPECT_EQ(run.exitCode, 130) << run.err;
  EXPECT_EQ(printed, "ok\nok\nok\n");
  const std::vector<Note> events = parseNotes(readFile(directory + "/run_events.tsv"), true);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1].text, "trial 1");
  EXPECT_EQ(events[2].text, "trial 2");
  EXPECT_EQ(events[3].text, "trial 3");
  EXPECT_LT(events[1].onset, events[2].onset);
  EXPECT_LT(events[2].onset, events[3].onset);
}
