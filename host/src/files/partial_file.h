// How recordings reach their outputs without destroying anything: each is
// written under a temporary name beside its target and moved over it only
// once it is complete, so neither a failed run nor a power loss leaves a
// target emptied or half-written.
#pragma once

#include <string>
#include <vector>

#include "files/output_format.h"
#include "files/output_paths.h"

namespace bvhost {

// A file being written under a temporary name beside its target. The name
// comes from partialTemplate, so a file left by a failed run says where it
// was meant to go.
class PartialFile {
 public:
  // Creates the temporary file, empty, with the permissions a new file
  // would get from the umask, and keeps it open and locked (flock) until the
  // object goes: writers reach it only through descriptor(), never by name,
  // and `bvhost repair` or another run can tell that it is being written.
  // Throws OutputError.
  explicit PartialFile(const std::string& finalPath);
  ~PartialFile();

  PartialFile(PartialFile&& other) noexcept;
  PartialFile& operator=(PartialFile&& other) noexcept;
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const std::string& path() const { return path_; }
  const std::string& finalPath() const { return finalPath_; }
  int descriptor() const { return fd_; }

  // Throws OutputError when the file is no longer at its name: deleted, or
  // replaced by another file, so whatever is written would be lost.
  void checkInPlace() const;
  bool inPlace() const noexcept;
  // Moved over its target, whatever followed.
  bool committed() const noexcept { return state_ == State::kCommitted; }

  // Moves the file, flushed to disk, over its target. On failure throws
  // OutputError and the file stays under its temporary name, which the
  // message gives; the target is then left as it was.
  void commit();
  // Leaves the file under its temporary name: a failed run keeps what it
  // recorded, without passing it off as complete.
  void keep();
  // Removes the file. Best effort, as callers use it while handling a
  // failure already.
  void discard() noexcept;

 private:
  enum class State { kPending, kCommitted, kKept, kGone };

  void release() noexcept;

  std::string path_;
  std::string finalPath_;
  int fd_ = -1;
  State state_ = State::kPending;
};

// The partial files of other runs that are writing `finalPath` now, as
// their locks show (with the process, where the system says), leaving out
// `own`; empty when none is.
std::vector<std::string> partialsBeingWritten(const std::string& finalPath,
                                              const std::string& own = "");

// A partial file for every checked output, before anything connects. Two
// runs must not write one target, since the later one's move would destroy
// the other's recording: an output that another run is writing now is
// refused (OutputError), naming that run's file.
std::vector<PartialFile> claimOutputs(const std::vector<OutputFile>& outputs);

}  // namespace bvhost
