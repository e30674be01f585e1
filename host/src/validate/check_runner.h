// Runs one check in a child process of its own, so that a crash, a hang or a
// corrupted plug-in state fails that check alone.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace bvhost {

// Thrown by a check that does not apply to this plug-in.
class CheckSkipped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CheckOutcome {
  bool passed = false;
  std::string reason;
  double seconds = 0.0;
  bool skipped = false;
};

// body reports failure by throwing, or CheckSkipped; it runs in the child
// only.
CheckOutcome runIsolated(const std::function<void()>& body, int timeoutSeconds);

}  // namespace bvhost
