#include "app/mark_command.h"

#include <iostream>

#include "app/marker_inputs.h"
#include "base/exit_codes.h"
#include "markers/marker_client.h"

namespace bvhost {

static_assert(kMarkAccepted == kExitOk && kMarkRefused == kExitRuleBroken &&
                  kMarkWhichRecording == kExitUsage && kMarkNoRecording == kExitNoRecording,
              "bvhost mark's statuses are the exit codes its help lists");

int runMark(const std::string& text, const std::optional<std::string>& to) {
  MarkerSendOptions options;
  options.to = to.value_or("");
  // A run puts its socket in the fallback folder only when the runtime
  // folder will not do; looking there only then keeps another user
  // session's runs, or a test's, out of the choice.
  if (runningRecordings().empty()) {
    options.fallbackFolder = markerFallbackFolder();
  }
  return sendMarker(text, options, std::cout, std::cerr);
}

}  // namespace bvhost
