// What `bvhost validate` runs: a first load of the plug-in, then the selected
// checks, each isolated.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "validate/check_runner.h"
#include "validate/checks.h"

namespace bvhost {

// A file that is not there or loads as no library fails the same way in
// every check, so it is reported once, as the LoadError this throws.
// Loading runs the library's own constructors, which may crash or hang, so
// even this first load happens in a child of its own.
void probeLoad(const std::string& pluginPath);

// Runs every check whose name `only` (POSIX extended) matches, or all, in
// their order, each in a child of its own, and hands each outcome to
// `report` as it comes.
void runChecks(const std::string& pluginPath, std::uint64_t seed,
               const std::optional<std::string>& only,
               const std::function<void(const Check&, const CheckOutcome&)>& report);

}  // namespace bvhost
