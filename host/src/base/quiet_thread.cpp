#include "base/quiet_thread.h"

#include <pthread.h>

#include <csignal>

namespace bvhost {

std::thread threadWithoutStopSignals(std::function<void()> body) {
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

}  // namespace bvhost
