#include "app/mark_command.h"

#include <sys/stat.h>

#include <iostream>

#include "app/marker_inputs.h"
#include "base/exit_codes.h"
#include "markers/marker_client.h"
#include "markers/marker_socket.h"

namespace bvhost {

static_assert(kMarkAccepted == kExitOk && kMarkRefused == kExitRuleBroken &&
                  kMarkWhichRecording == kExitUsage && kMarkNoRecording == kExitNoRecording,
              "bvhost mark's statuses are the exit codes its help lists");

int runMark(const std::string& text, const std::optional<std::string>& to) {
  MarkerSendOptions options;
  options.to = to.value_or("");
  // A run puts its socket in the fallback folder only when the runtime
  // folder will not do; looking there only then keeps the runs of another
  // login session (another XDG_RUNTIME_DIR) out of the choice. A runtime
  // folder that is not there yet serves no run either.
  const std::string runtime = runtimeMarkerFolder();
  struct stat status {};
  const bool runtimeServes = !runtime.empty() && ::lstat(runtime.c_str(), &status) == 0 &&
                             preparePrivateFolder(runtime).empty();
  if (!runtimeServes) {
    options.fallbackFolder = markerFallbackFolder();
  }
  return sendMarker(text, options, std::cout, std::cerr);
}

}  // namespace bvhost
