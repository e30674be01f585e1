// SIGINT, SIGTERM and SIGHUP during a recording ask for a clean stop instead of
// ending the process, so the drain runs and the file is closed complete. A
// second one takes the default action, for a plug-in that hangs meanwhile.
#pragma once

namespace bvhost {

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal that asked for the stop, or 0.
  static int received();
};

}  // namespace bvhost
