// Runs bvhost as a user does and keeps what it printed and its exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct CliRun {
  int exitCode = -1;  // 128 + the signal's number when a signal ended it
  int killedBy = 0;   // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// Arguments are passed without a shell; environment entries are added to
// the current environment. Unless said otherwise, stdin is /dev/null, so a
// run never reads the terminal the tests were started from, and
// XDG_RUNTIME_DIR a folder of the test process's own, so no run's marker
// socket is seen by another test.
CliRun runBvhost(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {});

// As runBvhost, but sends signalNumber once afterMilliseconds have passed.
CliRun runBvhostAndSignal(const std::vector<std::string>& arguments, int signalNumber,
                          int afterMilliseconds,
                          const std::map<std::string, std::string>& environment = {});

// As runBvhost, but sends each signal once its time (in milliseconds from
// the start) has come.
CliRun runBvhostAndSignals(const std::vector<std::string>& arguments,
                           const std::vector<std::pair<int, int>>& signalsAt,
                           const std::map<std::string, std::string>& environment = {});

// As runBvhost, with the size of every file it writes limited to `bytes`
// (RLIMIT_FSIZE), as a full disk limits it.
CliRun runBvhostWithFileSizeLimit(const std::vector<std::string>& arguments, std::uint64_t bytes,
                                  const std::map<std::string, std::string>& environment = {});

// As runBvhost, calling whileRunning(pid, pathOfItsStdout) once it has
// started and before waiting for it to end.
CliRun runBvhostWhile(
    const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment,
    const std::function<void(int pid, const std::string& stdoutPath)>& whileRunning);

// As runBvhostWhile, with stdin a pipe whose writing end whileRunning gets
// (as `stdinFd`) and which is closed once it returns.
CliRun runBvhostFed(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment,
                    const std::function<void(int pid, int stdinFd)>& whileRunning);

// A fresh directory under the test's build folder.
std::string scratchDirectory(const std::string& name);

std::string readFile(const std::string& path);
