// `bvhost validate`: runs the selected checks, each isolated, and reports
// each verdict as it comes and the count at the end.
#pragma once

#include "app/cli.h"

namespace bvhost {

// Returns the exit code; throws LoadError when the plug-in does not load.
int runValidate(const ValidateRequest& request);

}  // namespace bvhost
