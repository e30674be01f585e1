// A recording as `bvhost repair` reads it: the file named, never a link or
// a device in its place, locked for as long as repair works on it, and
// known by its first bytes as one of the kinds bvhost writes.
#pragma once

#include <cstdint>
#include <string>

namespace bvhost {

enum class RecordingKind { Edf, Csv };

class RepairFile {
 public:
  // Opens `path` for writing where it may, for reading where it may not,
  // and locks it. Throws OutputError when it is no regular file, cannot be
  // opened, or a running bvhost is writing it.
  explicit RepairFile(const std::string& path);
  ~RepairFile();
  RepairFile(const RepairFile&) = delete;
  RepairFile& operator=(const RepairFile&) = delete;

  int fd() const { return fd_; }

  // Throws OutputError when the file could be opened only for reading.
  void requireWritable() const;

  // From the first bytes: an EDF or BDF header, or bvhost's CSV first line
  // and header row. Throws OutputError for an empty file or one bvhost does
  // not write.
  RecordingKind kind() const;

  std::uint64_t size() const;
  bool endsWithLineBreak() const;

 private:
  std::string path_;
  int fd_ = -1;
  int writeError_ = 0;
};

}  // namespace bvhost
