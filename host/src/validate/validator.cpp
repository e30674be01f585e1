#include "validate/validator.h"

#include <chrono>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <string>

#include "base/exit_codes.h"
#include "plugin/plugin_loader.h"
#include "validate/check_runner.h"
#include "validate/checks.h"

namespace bvhost {
namespace {

constexpr int kLoadTimeoutSeconds = 5;

void probeLoad(const std::string& pluginPath) {
  // The child can hand back only text, so the kind of load error travels as
  // the exit code it maps to, ahead of the message.
  const CheckOutcome outcome = runIsolated(
      [&] {
        try {
          Plugin probe(pluginPath, false);
        } catch (const LoadError& error) {
          throw std::runtime_error(std::to_string(error.exitCode()) + " " + error.what());
        }
      },
      kLoadTimeoutSeconds);
  if (outcome.passed) {
    return;
  }
  const std::string& reason = outcome.reason;
  const std::string notAPlugin = std::to_string(kExitNotAPlugin) + " ";
  const std::string cannotLoad = std::to_string(kExitCannotLoad) + " ";
  if (reason.rfind(notAPlugin, 0) == 0) {
    throw LoadError(LoadError::Kind::NotAPlugin, reason.substr(notAPlugin.size()));
  }
  if (reason.rfind(cannotLoad, 0) == 0) {
    throw LoadError(LoadError::Kind::NotLoadable, reason.substr(cannotLoad.size()));
  }
  const bool died = reason.rfind("crashed", 0) == 0 || reason.rfind("did not finish", 0) == 0;
  throw LoadError(LoadError::Kind::NotLoadable, "cannot load " + pluginPath + ": loading it " +
                                                    (died ? "" : "failed: ") + reason);
}

}  // namespace

int runValidate(const std::string& pluginPath, std::optional<std::uint64_t> seed,
                const std::optional<std::string>& only) {
  // A file that is not there or loads as no library fails the same way in
  // every check, so it is reported once, as a load error. Loading runs the
  // library's own constructors, which may crash or hang, so even this first
  // load happens in a child of its own.
  probeLoad(pluginPath);

  const std::uint64_t chosenSeed =
      seed ? *seed
           : static_cast<std::uint64_t>(
                 std::chrono::system_clock::now().time_since_epoch().count() % 1000000007);
  std::printf("bvhost validate %s (seed %llu; rerun with --seed %llu to repeat)\n",
              pluginPath.c_str(), static_cast<unsigned long long>(chosenSeed),
              static_cast<unsigned long long>(chosenSeed));
  std::optional<std::regex> filter;
  if (only) {
    filter.emplace(*only, std::regex::extended);
  }
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  std::uint64_t index = 0;
  for (const Check& check : allChecks()) {
    ++index;
    if (filter && !std::regex_search(check.name, *filter)) {
      continue;
    }
    // Each check draws from its own stream of the seed, so selecting checks
    // with --only does not change what a check does.
    const std::uint64_t checkSeed = chosenSeed * 1000003u + index;
    const CheckOutcome outcome = runIsolated(
        [&] {
          CheckContext context(pluginPath, checkSeed);
          check.run(context);
        },
        check.timeoutSeconds);
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
  }
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
