// The annotations an EDF+ or BDF+ file holds, as a reader sees them.
#pragma once

#include <string>
#include <vector>

#include "base/annotation.h"

namespace bvhost {

// Through EDFlib's reader, onsets in seconds from the file's first sample,
// an annotation without a duration an instant. The time-keeping annotations
// of the records are no notes and are left out. Throws OutputError when the
// file cannot be read as EDF+ or BDF+.
std::vector<Annotation> readEdfAnnotations(const std::string& path);

}  // namespace bvhost
