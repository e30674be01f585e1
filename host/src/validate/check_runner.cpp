#include "validate/check_runner.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>

#include "base/posix_io.h"

namespace bvhost {
namespace {

[[noreturn]] void runChild(const std::function<void()>& body, int fd) {
  std::string verdict;
  try {
    body();
    verdict = "P";
  } catch (const CheckSkipped& skipped) {
    verdict = std::string("S") + skipped.what();
  } catch (const std::exception& error) {
    verdict = std::string("F") + error.what();
  } catch (...) {
    verdict = "Fthe check threw an unknown exception";
  }
  writeAll(fd, verdict.data(), verdict.size());
  ::close(fd);
  // _exit: the parent's atexit handlers and stdio buffers belong to it.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(0);
}

// Forks a child that runs body and writes its verdict into the pipe `fds`,
// leaving the parent only the reading end; -1 when there is no child, with
// both ends closed.
pid_t startChild(const std::function<void()>& body, const int (&fds)[2]) {
  // Buffered output would otherwise be written twice, by parent and child.
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return pid;
  }
  if (pid == 0) {
    ::close(fds[0]);
    runChild(body, fds[1]);
  }
  ::close(fds[1]);
  return pid;
}

// The verdict of a child that ended with `status` after writing `message`,
// or that was killed at its deadline.
CheckOutcome outcomeOf(int status, const std::string& message, bool timedOut, int timeoutSeconds) {
  CheckOutcome outcome;
  if (timedOut) {
    outcome.reason =
        "did not finish within " + std::to_string(timeoutSeconds) + " s (hung or too slow); killed";
  } else if (WIFSIGNALED(status)) {
    const int number = WTERMSIG(status);
    outcome.reason =
        "crashed with signal " + std::to_string(number) + " (" + ::strsignal(number) + ")";
  } else if (message.empty()) {
    outcome.reason = "the check's process ended without a verdict (exit status " +
                     std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
  } else if (message[0] == 'P') {
    outcome.passed = true;
  } else if (message[0] == 'S') {
    outcome.skipped = true;
    outcome.reason = message.substr(1);
  } else {
    outcome.reason = message.substr(1);
  }
  return outcome;
}

}  // namespace

CheckOutcome runIsolated(const std::function<void()>& body, int timeoutSeconds) {
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  int fds[2];
  if (::pipe(fds) != 0) {
    return {false, std::string("cannot create a pipe: ") + std::strerror(errno), 0.0};
  }
  const pid_t pid = startChild(body, fds);
  if (pid < 0) {
    return {false, std::string("cannot fork: ") + std::strerror(errno), 0.0};
  }

  std::string message;
  bool timedOut = false;
  const auto deadline = start + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) {
      timedOut = true;
      break;
    }
    pollfd entry{fds[0], POLLIN, 0};
    if (pollUntil(entry, deadline) <= 0) {
      continue;
    }
    char buffer[4096];
    std::size_t got = 0;
    if (readSome(fds[0], buffer, sizeof buffer, got) != 0 || got == 0) {
      break;
    }
    message.append(buffer, got);
  }
  ::close(fds[0]);
  if (timedOut) {
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  waitForChild(pid, status);

  CheckOutcome outcome = outcomeOf(status, message, timedOut, timeoutSeconds);
  outcome.seconds = elapsed();
  return outcome;
}

}  // namespace bvhost
