// A library whose load-time constructor never returns normally: it crashes
// (LOAD_FAULT 1) or waits for ever (LOAD_FAULT 2). bvhost validate must
// survive loading it.
#include <signal.h>
#include <unistd.h>

namespace {

__attribute__((constructor)) void misbehaveOnLoad() {
#if LOAD_FAULT == 1
  raise(SIGSEGV);
#else
  pause();
#endif
}

}  // namespace
