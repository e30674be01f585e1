// Annotations kept beside a recording while it is written, so that they
// survive a run that dies before its file is complete; `bvhost repair` and
// the normal end of a run put them into the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/annotation.h"

namespace bvhost {

// "<dataPath>.annotations"
std::string journalPathFor(const std::string& dataPath);

// One line per annotation, "onset\tduration\ttext\n", readable by people;
// the duration is "-" when there is none, and "open" for a stretch that has
// begun and whose end is not known yet. A later line with the same onset
// and text and a duration closes it.
class AnnotationJournal {
 public:
  // Creates the file, never one that exists; throws OutputError.
  explicit AnnotationJournal(const std::string& path);
  ~AnnotationJournal();
  AnnotationJournal(const AnnotationJournal&) = delete;
  AnnotationJournal& operator=(const AnnotationJournal&) = delete;

  // Held in memory until write() or sync().
  void append(const Annotation& annotation);
  // A stretch that begins now, journalled at once so that a run killed
  // before it ends still marks it; close it later by append() with the
  // same onset and text and the duration. Held in memory until write() or
  // sync().
  void appendOpen(double onsetSeconds, const std::string& text);
  // Writes what append() held without waiting for the disk, which is
  // enough for it to outlast a run that is killed; throws OutputError (a
  // full disk, say). What could not be written stays held.
  void write();
  // Writes what append() held and waits until it is on the disk, so that
  // it outlasts a power loss too; throws OutputError as write() does.
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

// The annotations of a journal's text in the order written. A last line with
// no newline (the run died while writing it) and lines that are not
// annotations are passed over. An open line is superseded by a line with the
// same onset and text and a duration, wherever that stands; one that no such
// line closes is given once, with open set and no duration.
std::vector<Annotation> parseAnnotationJournal(std::string_view content);

// As parseAnnotationJournal, from the file. No file gives none. Throws
// OutputError when the file is there but cannot be read or is no regular
// file (a FIFO is never waited on).
std::vector<Annotation> readAnnotationJournal(const std::string& path);

// Gives each open annotation the duration from its onset to endSeconds (0
// when it begins later) and returns how many there were.
std::size_t closeOpenAnnotations(std::vector<Annotation>& annotations, double endSeconds);

}  // namespace bvhost
