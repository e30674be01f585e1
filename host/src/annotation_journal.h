// Annotations kept beside a recording while it is written, so that they
// survive a run that dies before its file is complete; `bvhost repair` and
// the normal end of a run put them into the file.
#pragma once

#include <string>
#include <vector>

#include "annotation.h"

namespace bvhost {

// "<dataPath>.annotations"
std::string journalPathFor(const std::string& dataPath);

// One line per annotation, "onset\tduration\ttext\n", readable by people;
// the duration is "-" when there is none.
class AnnotationJournal {
 public:
  // Creates the file, never one that exists; throws OutputError.
  explicit AnnotationJournal(const std::string& path);
  ~AnnotationJournal();
  AnnotationJournal(const AnnotationJournal&) = delete;
  AnnotationJournal& operator=(const AnnotationJournal&) = delete;

  // Held in memory until sync().
  void append(const Annotation& annotation);
  // Writes what append() held and waits until it is on the disk; throws
  // OutputError (a full disk, say). What could not be written stays held.
  void sync();
  // Deletes the file; throws OutputError.
  void remove();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::string pending_;
  bool folderSynced_ = false;
};

// The annotations of a journal in the order written. No file gives none; a
// last line with no newline (the run died while writing it) and lines that
// are not annotations are passed over. Throws OutputError when the file is
// there but cannot be read.
std::vector<Annotation> readAnnotationJournal(const std::string& path);

}  // namespace bvhost
