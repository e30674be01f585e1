// `bvhost repair FILE`: completes a recording that a run left unfinished,
// when it was killed, crashed, or the machine went down, and gives it the
// name it was meant to have.
#pragma once

#include <optional>
#include <string>

namespace bvhost {

// Returns the exit code; throws OutputError when the file cannot be read or
// written or is no recording bvhost writes.
int runRepair(const std::string& file, const std::optional<std::string>& out);

}  // namespace bvhost
