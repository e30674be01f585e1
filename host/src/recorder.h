// `bvhost record`: connect with the trigger options, stream for a while,
// stop, drain, disconnect, and leave complete files behind.
#pragma once

#include <string>
#include <vector>

#include "configuration.h"
#include "sample_writer.h"

namespace bvhost {

struct OutputFile {
  std::string path;
  OutputFormat format;
};

struct RecordOptions {
  std::string plugin;
  double seconds = 0.0;
  std::vector<OutputFile> outputs;
  TriggerOptions triggers;
};

int runRecord(const RecordOptions& options);

}  // namespace bvhost
