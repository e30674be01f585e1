#include "validate/checks.h"

namespace bvhost {

std::vector<Check> allChecks() {
  std::vector<Check> checks;
  for (auto group : {loadingChecks, identityChecks, nullArgumentChecks, stateChecks,
                     configurationChecks, hostRecordChecks, streamChecks, repeatedStreamChecks,
                     deviceInventoryChecks, deviceSampleChecks, deviceCallChecks}) {
    for (const auto& check : group()) {
      checks.push_back(check);
    }
  }
  return checks;
}

}  // namespace bvhost
