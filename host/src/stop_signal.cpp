#include "stop_signal.h"

#include <csignal>

namespace bvhost {
namespace {

volatile std::sig_atomic_t stopSignal = 0;
struct sigaction previousInt;
struct sigaction previousTerm;

void onSignal(int number) { stopSignal = number; }

}  // namespace

StopSignals::StopSignals() {
  stopSignal = 0;
  struct sigaction action {};
  action.sa_handler = &onSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the idle sleep should end at once when a stop is asked.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
}

int StopSignals::received() { return stopSignal; }

}  // namespace bvhost
