// The name a recording carries while it is written: beside its target, with
// ".partial-XXXXXX" put before the extension, so a file manager's "*.bdf"
// still shows it and a killed run's file tells where it was meant to go.
#pragma once

#include <optional>
#include <string>

namespace bvhost {

// "dir/a.bdf" gives "dir/a.partial-XXXXXX.bdf"; the six X are for mkstemps,
// whose suffix length is the extension's, returned in suffixLength.
std::string partialTemplate(const std::string& finalPath, int& suffixLength);

// The target a partial file was meant for, or nothing when the name is not
// one that partialTemplate gives.
std::optional<std::string> intendedPath(const std::string& partialPath);

}  // namespace bvhost
