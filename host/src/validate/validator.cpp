#include "validate/validator.h"

#include <stdexcept>
#include <string>

#include "base/exit_codes.h"
#include "base/name_pattern.h"
#include "plugin/plugin_loader.h"

namespace bvhost {
namespace {

constexpr int kLoadTimeoutSeconds = 5;

}  // namespace

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

void runChecks(const std::string& pluginPath, std::uint64_t seed,
               const std::optional<std::string>& only,
               const std::function<void(const Check&, const CheckOutcome&)>& report) {
  std::optional<NamePattern> filter;
  if (only) {
    filter.emplace(*only);
  }
  std::uint64_t index = 0;
  for (const Check& check : allChecks()) {
    ++index;
    if (filter && !filter->search(check.name)) {
      continue;
    }
    // Each check draws from its own stream of the seed, so selecting checks
    // with --only does not change what a check does.
    const std::uint64_t checkSeed = seed * 1000003u + index;
    const CheckOutcome outcome = runIsolated(
        [&] {
          CheckContext context(pluginPath, checkSeed);
          check.run(context);
        },
        check.timeoutSeconds);
    report(check, outcome);
  }
}

}  // namespace bvhost
