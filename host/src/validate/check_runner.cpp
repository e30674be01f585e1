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

namespace bvhost {
namespace {

void writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

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
  writeAll(fd, verdict);
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
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd entry{fds[0], POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      continue;
    }
    char buffer[4096];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    message.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (timedOut) {
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }

  CheckOutcome outcome = outcomeOf(status, message, timedOut, timeoutSeconds);
  outcome.seconds = elapsed();
  return outcome;
}

}  // namespace bvhost
