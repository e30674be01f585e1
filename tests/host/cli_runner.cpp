#include "cli_runner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using WhileRunning = std::function<void(int, const std::string&)>;
using WhileFed = std::function<void(int, int)>;

CliRun runLimited(const std::vector<std::string>& arguments,
                  const std::vector<std::pair<int, int>>& signalsAt,
                  const std::map<std::string, std::string>& environment,
                  std::uint64_t fileSizeLimit, const WhileRunning& whileRunning = {},
                  const WhileFed& whileFed = {});

std::string drainFile(const std::string& path) {
  std::string text = readFile(path);
  std::filesystem::remove(path);
  return text;
}

}  // namespace

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string scratchDirectory(const std::string& name) {
  const std::filesystem::path directory =
      std::filesystem::path(WORK_DIR) / "scratch" / (name + "." + std::to_string(getpid()));
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  return directory.string();
}

CliRun runBvhost(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment) {
  return runBvhostAndSignal(arguments, 0, 0, environment);
}

CliRun runBvhostAndSignal(const std::vector<std::string>& arguments, int signalNumber,
                          int afterMilliseconds,
                          const std::map<std::string, std::string>& environment) {
  if (signalNumber == 0) {
    return runBvhostAndSignals(arguments, {}, environment);
  }
  return runBvhostAndSignals(arguments, {{signalNumber, afterMilliseconds}}, environment);
}

CliRun runBvhostAndSignals(const std::vector<std::string>& arguments,
                           const std::vector<std::pair<int, int>>& signalsAt,
                           const std::map<std::string, std::string>& environment) {
  return runLimited(arguments, signalsAt, environment, 0);
}

CliRun runBvhostWithFileSizeLimit(const std::vector<std::string>& arguments, std::uint64_t bytes,
                                  const std::map<std::string, std::string>& environment) {
  return runLimited(arguments, {}, environment, bytes);
}

CliRun runBvhostWhile(const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment,
                      const WhileRunning& whileRunning) {
  return runLimited(arguments, {}, environment, 0, whileRunning);
}

CliRun runBvhostFed(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment,
                    const std::function<void(int pid, int stdinFd)>& whileRunning) {
  return runLimited(arguments, {}, environment, 0, {}, whileRunning);
}

namespace {

CliRun runLimited(const std::vector<std::string>& arguments,
                  const std::vector<std::pair<int, int>>& signalsAt,
                  const std::map<std::string, std::string>& environment,
                  std::uint64_t fileSizeLimit, const WhileRunning& whileRunning,
                  const WhileFed& whileFed) {
  // A run may start another (bvhost mark while bvhost record runs): each
  // has files of its own.
  static std::atomic<int> runs{0};
  const std::string stem =
      std::string(WORK_DIR) + "/run." + std::to_string(getpid()) + "." + std::to_string(++runs);
  const std::string outPath = stem + ".out";
  const std::string errPath = stem + ".err";
  int input[2] = {-1, -1};
  if (whileFed && pipe2(input, O_CLOEXEC) != 0) {
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = whileFed ? input[0] : open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (fileSizeLimit > 0) {
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    // Marker sockets of its own, so that no run sees another test's.
    const std::string runtime = std::string(WORK_DIR) + "/runtime." + std::to_string(getppid());
    mkdir(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    for (const auto& [name, value] : environment) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(BVHOST_PATH));
    for (const auto& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(BVHOST_PATH, argv.data());
    _exit(127);
  }
  const auto start = std::chrono::steady_clock::now();
  for (const auto& [signalNumber, atMilliseconds] : signalsAt) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(atMilliseconds));
    kill(pid, signalNumber);
  }
  if (whileRunning) {
    whileRunning(pid, outPath);
  }
  if (whileFed) {
    close(input[0]);
    whileFed(pid, input[1]);
    close(input[1]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  CliRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.killedBy = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  run.out = drainFile(outPath);
  run.err = drainFile(errPath);
  return run;
}

}  // namespace
