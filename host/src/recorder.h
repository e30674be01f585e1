// `bvhost record`: connect with the trigger options, stream for a while,
// stop, drain, disconnect, and leave complete files behind.
#pragma once

#include <string>
#include <vector>

#include "configuration.h"
#include "live/live_view.h"
#include "sample_writer.h"
#include "stream_stats.h"

namespace bvhost {

struct OutputFile {
  std::string path;  // as the user gave it, for messages
  OutputFormat format;
  // Canonical path of the file to write, set by checkOutputs.
  std::string finalPath;
};

struct RecordOptions {
  std::string plugin;
  // 0: until a stop signal comes (bvhost monitor only).
  double seconds = 0.0;
  std::vector<OutputFile> outputs;
  TriggerOptions triggers;
  SummaryDetail summary = SummaryDetail::Automatic;
  LiveOptions live;
};

int runRecord(const RecordOptions& options);

}  // namespace bvhost
