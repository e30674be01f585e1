// `bvhost record` and `bvhost monitor`: connect with the trigger options,
// stream for a while, stop, drain, disconnect, and leave complete files
// behind; the live view, the summary and the exit code on top.
#pragma once

#include <string>
#include <vector>

#include "files/output_paths.h"
#include "live/live_view.h"
#include "plugin/plugin_configuration.h"
#include "recording/stream_stats.h"

namespace bvhost {

struct RecordOptions {
  std::string plugin;
  // 0: until a stop signal comes (bvhost monitor only).
  double seconds = 0.0;
  std::vector<OutputFile> outputs;
  TriggerOptions triggers;
  SummaryDetail summary = SummaryDetail::Automatic;
  LiveOptions live;
  // One marker per line of stdin although it is no terminal (a terminal is
  // read anyway).
  bool markersFromStdin = false;
};

int runRecord(const RecordOptions& options);

}  // namespace bvhost
