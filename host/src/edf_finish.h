// Completes in place an EDF+/BDF+ file that EDFlib wrote, whether EDFlib
// closed it or the process died first: EDFlib counts records in the header
// and writes annotations only when it closes, so the recorder keeps its
// annotations elsewhere and hands them in here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "annotation.h"

namespace bvhost {

struct EdfFinishReport {
  std::int64_t records = 0;    // whole data records the file now holds
  std::uint64_t bytesCut = 0;  // of a last record cut short
  std::size_t annotationsWritten = 0;
  // Those for which the file's annotation signals had no room left, or
  // whose times cannot be written; the caller must say so.
  std::size_t annotationsLeftOut = 0;
};

// Drops a partial last record, writes the true record count into the
// header and packs the annotations, ordered by onset, densely into the
// annotation signals from the first record on. Throws OutputError naming
// the file and the reason.
EdfFinishReport finishEdfFile(const std::string& path, const std::vector<Annotation>& annotations);

}  // namespace bvhost
