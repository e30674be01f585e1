// SIGINT, SIGTERM and SIGHUP during a recording ask for a clean stop instead of
// ending the process, so the drain runs and the files are closed complete.
//
// People press Ctrl-C twice, so the second signal is answered by where the
// run is. While bvhost is still inside the plug-in (connecting, streaming,
// stopping, draining, disconnecting: a plug-in may hang in any of them), it
// ends bvhost at once with kExitLeftPartial, after naming on stderr every
// partial file left for `bvhost repair`. Once the plug-in is done and bvhost
// only completes its files, which is local and bounded, a signal is answered
// with a line and otherwise ignored, so the files are still completed.
//
// A signal that was ignored when bvhost started (nohup ignores SIGHUP; a
// script's `cmd &` ignores SIGINT) stays ignored.
#pragma once

#include <string>

namespace bvhost {

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // A file the recording writes under its temporary name, to be named if a
  // second signal ends bvhost before it is complete. One that is empty then
  // holds nothing and is removed instead, with its annotation journal.
  void addPartialFile(const std::string& path);

  // The plug-in is done with: from here on bvhost only completes its files,
  // and a signal no longer ends it.
  void beginFinishing();

  // The signal that asked for the stop, or 0.
  static int received();
};

}  // namespace bvhost
