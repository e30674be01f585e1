// Runs one check in a child process of its own, so that a crash, a hang or a
// corrupted plug-in state fails that check alone.
#pragma once

#include <functional>
#include <string>

namespace bvhost {

struct CheckOutcome {
  bool passed = false;
  std::string reason;
  double seconds = 0.0;
};

// body reports failure by throwing; it runs in the child only.
CheckOutcome runIsolated(const std::function<void()>& body, int timeoutSeconds);

}  // namespace bvhost
