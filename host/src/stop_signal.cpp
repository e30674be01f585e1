#include "stop_signal.h"

#include <csignal>

namespace bvhost {
namespace {

volatile std::sig_atomic_t stopSignal = 0;
struct sigaction previousInt;
struct sigaction previousTerm;
struct sigaction previousHup;
struct sigaction previousFileSize;

// The first signal asks for a clean stop; should the plug-in then hang, a
// second one must still end the process, so the default actions come back.
void onSignal(int number) {
  stopSignal = number;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGINT, &fallback, nullptr);
  sigaction(SIGTERM, &fallback, nullptr);
  sigaction(SIGHUP, &fallback, nullptr);
}

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
  // Closing the terminal a recording runs in ends it as cleanly as Ctrl-C.
  sigaction(SIGHUP, &action, &previousHup);
  // A file that reaches the size limit must fail its write, which the
  // recording reports and survives, rather than end the process mid-record.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &previousFileSize);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
  sigaction(SIGHUP, &previousHup, nullptr);
  sigaction(SIGXFSZ, &previousFileSize, nullptr);
}

int StopSignals::received() { return stopSignal; }

}  // namespace bvhost
