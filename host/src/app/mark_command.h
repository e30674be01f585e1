// `bvhost mark TEXT [--to NAME]`: puts TEXT into a running recording as a
// marker at the moment the recording receives it.
#pragma once

#include <optional>
#include <string>

namespace bvhost {

// Returns the exit code: 0 taken, 1 refused, 2 which recording is meant is
// unclear, 8 none is running (or the one named did not answer).
int runMark(const std::string& text, const std::optional<std::string>& to);

}  // namespace bvhost
