// Completes in place an EDF+/BDF+ file that EDFlib wrote, whether EDFlib
// closed it or the process died first: EDFlib counts records in the header
// and writes annotations only when it closes, so the recorder keeps its
// annotations elsewhere and hands them in here.
//
// Every step can be cut short by a kill and run again: the annotation areas
// are rebuilt from the time-keeping annotations and the list given, never
// added to, so a second run writes the same bytes as the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/annotation.h"
#include "files/edf_header.h"

namespace bvhost {

struct EdfFinishReport {
  std::int64_t records = 0;    // whole data records the file now holds
  std::uint64_t bytesCut = 0;  // of a last record cut short
  std::size_t annotationsWritten = 0;
  // Those for which the file's annotation signals had no room left, or
  // whose times cannot be written; the caller must say so.
  std::size_t annotationsLeftOut = 0;
  // Open annotations given the duration up to the end of the last record.
  std::size_t openAnnotationsClosed = 0;
  // Written, but set after the end of the last record: a killed run's
  // samples around them are lost, and readers such as MNE-Python omit
  // annotations outside the data, so the caller must say so.
  std::size_t annotationsAfterData = 0;
  std::size_t annotationSignals = 0;
};

struct EdfFileState {
  EdfHeader header;
  std::uint64_t size = 0;
  // The header counts exactly the whole records the file holds, and
  // nothing follows them: a writer closed it and nothing needs completing.
  bool complete = false;
};

// Reads the header through fd without changing anything. Throws OutputError
// naming the file (name is for messages only) when it is no EDF or BDF.
EdfFileState inspectEdfFile(int fd, const std::string& name);

enum class AnnotationAreas {
  // Each record's annotation signals become its time-keeping annotation
  // followed by the annotations given, packed densely from the first
  // record on, whatever they held before.
  kRebuild,
  // Left as they are: nothing says what belongs there.
  kKeep,
};

// Through fd, open for reading and writing, which stays open (name is for
// messages only): drops a partial last record, writes the true record
// count into the header and, with kRebuild, packs the annotations, ordered
// by onset, densely into the annotation signals from the first record on;
// an open one lasts to the end of the last whole record. Then flushes the
// file to disk. Throws OutputError naming the file and the reason.
EdfFinishReport finishEdfFile(int fd, const std::string& name, std::vector<Annotation> annotations,
                              AnnotationAreas areas = AnnotationAreas::kRebuild);

}  // namespace bvhost
