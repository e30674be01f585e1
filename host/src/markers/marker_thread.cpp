#include "markers/marker_thread.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <system_error>

namespace bvhost {

std::thread markerThread(std::function<void()> body) {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigset_t previous;
  // A new thread starts with its creator's mask, so block, create, restore.
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  std::thread thread(std::move(body));
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

WakePipe::WakePipe() {
  if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot make a pipe");
  }
}

WakePipe::~WakePipe() {
  ::close(fds_[0]);
  ::close(fds_[1]);
}

void WakePipe::wake() noexcept {
  const char byte = 1;
  // A full pipe wakes the reader as well as one more byte would.
  while (::write(fds_[1], &byte, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace bvhost
