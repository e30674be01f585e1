// A file that recorded samples are written to: a frame sink whose file is
// completed at the end of the recording.
#pragma once

#include <string>
#include <vector>

#include "base/frame_sink.h"

namespace bvhost {

class SampleWriter : public FrameSink {
 public:
  // Puts everything written so far on the disk, so a run killed now keeps
  // it; throws OutputError when the file could not take it (disk full, I/O
  // error). Called about once a second.
  void sync() override = 0;
  // Completes the file so that it reads as it stands, also after a failure;
  // throws OutputError when it cannot.
  virtual void close() = 0;
  // Remarks for the person recording: what was left out, clipped or filled.
  virtual std::vector<std::string> notes() const { return {}; }
  virtual const std::string& path() const = 0;
};

}  // namespace bvhost
