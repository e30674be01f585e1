// Where recordings go, checked before a device is touched: every output
// must be a file bvhost can create or replace, each a different one, so a
// run does not fail only after connecting and starting.
#pragma once

#include <string>
#include <vector>

#include "files/output_error.h"
#include "files/output_format.h"

namespace bvhost {

struct OutputFile {
  std::string path;  // as the user gave it, for messages
  OutputFormat format;
  // Canonical path of the file to write, set by checkOutputs.
  std::string finalPath;
};

// Checks every output before anything connects and fills in finalPath: the
// real folder (symbolic links resolved) plus the file name, or, when the
// output is a symbolic link, the canonical path of the file it points at.
// A link pointing at nothing is refused rather than followed: the file it
// would create lies wherever the link says, which the user may not expect,
// and a chain of links may not resolve the same way when the run ends.
// Throws OutputError naming the output as given and why it cannot be
// written: a missing or unwritable folder, a directory or other non-regular
// file, or two outputs naming one file (by spelling, link or hard link).
void checkOutputs(std::vector<OutputFile>& outputs);

}  // namespace bvhost
