// The writer of each output format.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/channel_info.h"
#include "base/recording_info.h"
#include "files/output_format.h"
#include "files/sample_writer.h"

namespace bvhost {

// Writes through `fd`, a new empty file open for reading and writing that the
// caller keeps open for as long as the writer lives; the file is never
// opened again by name, so nobody can swap another file in under it. `path`
// names it in messages and places its companion files.
std::unique_ptr<SampleWriter> openWriter(OutputFormat format, int fd, const std::string& path,
                                         const std::vector<ChannelInfo>& channels,
                                         const RecordingInfo& info);

}  // namespace bvhost
