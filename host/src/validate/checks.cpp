#include "checks.h"

namespace bvhost {

std::vector<Check> allChecks() {
  std::vector<Check> checks;
  for (auto group :
       {loadingChecks, identityChecks, stateChecks, configurationChecks, streamChecks}) {
    for (const auto& check : group()) {
      checks.push_back(check);
    }
  }
  return checks;
}

}  // namespace bvhost
