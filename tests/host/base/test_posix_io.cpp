// Transfers that a signal interrupts or the file cuts short: each helper
// either finishes the whole job or says why not.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/posix_io.h"

using namespace bvhost;

namespace {

void ignoreSignal(int) {}

// SIGUSR1 caught by a handler installed without SA_RESTART, so each one
// that lands in a blocking call makes it fail with EINTR or return short.
class PosixIo : public ::testing::Test {
 protected:
  void SetUp() override {
    struct sigaction action {};
    action.sa_handler = &ignoreSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGUSR1, &action, &previous_);
  }
  void TearDown() override { sigaction(SIGUSR1, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

// While alive, sends SIGUSR1 to one thread every half millisecond.
class Interrupter {
 public:
  explicit Interrupter(pthread_t target) : target_(target) {
    thread_ = std::thread([this] {
      while (!stop_) {
        pthread_kill(target_, SIGUSR1);
        ++sent_;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
    });
  }
  ~Interrupter() {
    stop_ = true;
    thread_.join();
  }
  int sent() const { return sent_; }

 private:
  pthread_t target_;
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::thread thread_;
};

class TemporaryFile {
 public:
  TemporaryFile() {
    char name[] = "/tmp/bvhost_posix_io_XXXXXX";
    fd_ = ::mkstemp(name);
    path_ = name;
  }
  ~TemporaryFile() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace

// A pipe drained slowly makes the writer block again and again while
// signals keep arriving: every byte must still arrive once, in order.
TEST_F(PosixIo, WriteAllAndReadSomeCarryEveryByteThroughInterruptions) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::vector<char> sent(1 << 20);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    sent[i] = static_cast<char>(i * 7 + i / 251);
  }
  std::vector<char> received;
  int readError = 0;
  std::thread reader([&] {
    Interrupter interrupter(pthread_self());
    char buffer[4096];
    for (;;) {
      std::size_t got = 0;
      readError = readSome(fds[0], buffer, sizeof buffer, got);
      if (readError != 0 || got == 0) {
        break;
      }
      received.insert(received.end(), buffer, buffer + got);
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  int writeError = 0;
  std::size_t written = 0;
  int signals = 0;
  {
    Interrupter interrupter(pthread_self());
    writeError = writeAll(fds[1], sent.data(), sent.size(), &written);
    signals = interrupter.sent();
  }
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  EXPECT_GT(signals, 0);
  EXPECT_EQ(writeError, 0);
  EXPECT_EQ(readError, 0);
  EXPECT_EQ(written, sent.size());
  EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes arrived";
}

// The file's end: readUpTo stops there and says so, readAllAt calls it a
// failure, and positioned writes land where they were asked to.
TEST_F(PosixIo, PositionedTransfersStopAtTheEndOfTheFile) {
  TemporaryFile file;
  const std::string text = "0123456789";
  ASSERT_EQ(writeAllAt(file.fd(), text.data(), text.size(), 0), 0);
  ASSERT_EQ(writeAllAt(file.fd(), "AB", 2, 4), 0);

  char buffer[16] = {};
  std::size_t got = 99;
  EXPECT_EQ(readUpTo(file.fd(), buffer, sizeof buffer, 3, got), 0);
  EXPECT_EQ(std::string(buffer, got), "3AB6789");
  EXPECT_EQ(readUpTo(file.fd(), buffer, sizeof buffer, 10, got), 0);
  EXPECT_EQ(got, 0u);

  EXPECT_EQ(readAllAt(file.fd(), buffer, 10, 0), 0);
  EXPECT_EQ(std::string(buffer, 10), "0123AB6789");
  EXPECT_EQ(readAllAt(file.fd(), buffer, 11, 0), EIO);
  EXPECT_EQ(readAllAt(-1, buffer, 1, 0), EBADF);
  EXPECT_EQ(writeAllAt(-1, buffer, 1, 0), EBADF);
}

// Signals during the wait do not end it before its deadline; data waiting
// ends it at once.
TEST_F(PosixIo, PollUntilWaitsOutItsDeadlineThroughInterruptions) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pollfd entry{fds[0], POLLIN, 0};
  const auto start = std::chrono::steady_clock::now();
  int ready = -1;
  {
    Interrupter interrupter(pthread_self());
    ready = pollUntil(entry, start + std::chrono::milliseconds(100));
  }
  EXPECT_EQ(ready, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  entry.revents = 0;
  EXPECT_EQ(pollUntil(entry, std::chrono::steady_clock::now() + std::chrono::hours(1)), 1);
  EXPECT_TRUE(entry.revents & POLLIN);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(PosixIo, WaitForChildGivesTheStatusThroughInterruptions) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::usleep(50000);
    ::_exit(7);
  }
  int status = 0;
  int error = -1;
  {
    Interrupter interrupter(pthread_self());
    error = waitForChild(pid, status);
  }
  EXPECT_EQ(error, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(waitForChild(pid, status), ECHILD);
}
