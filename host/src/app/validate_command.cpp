#include "app/validate_command.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "base/exit_codes.h"
#include "validate/validator.h"

namespace bvhost {

int runValidate(const ValidateRequest& request) {
  const std::string& pluginPath = request.plugin;
  const std::optional<std::string>& only = request.only;
  probeLoad(pluginPath);

  const std::uint64_t chosenSeed =
      request.seed ? *request.seed
                   : static_cast<std::uint64_t>(
                         std::chrono::system_clock::now().time_since_epoch().count() % 1000000007);
  std::printf("bvhost validate %s (seed %llu; rerun with --seed %llu to repeat)\n",
              pluginPath.c_str(), static_cast<unsigned long long>(chosenSeed),
              static_cast<unsigned long long>(chosenSeed));
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  runChecks(pluginPath, chosenSeed, only, [&](const Check& check, const CheckOutcome& outcome) {
    if (outcome.skipped) {
      ++skipped;
      std::printf("SKIP  %-24s %5.2f s  %s\n", check.name, outcome.seconds, outcome.reason.c_str());
    } else if (outcome.passed) {
      ++passed;
      std::printf("PASS  %-24s %5.2f s  %s\n", check.name, outcome.seconds, check.rule);
    } else {
      ++failed;
      std::printf("FAIL  %-24s %5.2f s  %s\n      rule: %s\n", check.name, outcome.seconds,
                  outcome.reason.c_str(), check.rule);
    }
    std::fflush(stdout);
  });
  if (passed + failed + skipped == 0) {
    std::printf("no check matches --only %s\n", only ? only->c_str() : "");
    return kExitUsage;
  }
  std::printf("%d checks run, %d passed, %d failed", passed + failed, passed, failed);
  if (skipped > 0) {
    std::printf(", %d skipped (not applicable)", skipped);
  }
  std::printf("\n");
  return failed == 0 ? kExitOk : kExitRuleBroken;
}

}  // namespace bvhost
