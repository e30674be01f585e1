// The conformance checks of `bvhost validate`, in the order they run.
#pragma once

#include <vector>

#include "validate/check_support.h"

namespace bvhost {

struct Check {
  const char* name;
  // The rule the check holds the plug-in to, printed with its verdict.
  const char* rule;
  void (*run)(CheckContext& context);
  int timeoutSeconds;
};

std::vector<Check> loadingChecks();
std::vector<Check> identityChecks();
std::vector<Check> stateChecks();
std::vector<Check> configurationChecks();
std::vector<Check> streamChecks();
std::vector<Check> repeatedStreamChecks();
std::vector<Check> nullArgumentChecks();
std::vector<Check> hostRecordChecks();
// Through the interop stand-in; skipped for a plug-in that does not import
// the maker's library.
std::vector<Check> deviceInventoryChecks();
std::vector<Check> deviceSampleChecks();
std::vector<Check> deviceCallChecks();

std::vector<Check> allChecks();

}  // namespace bvhost
