#include "app/help_commands.h"

#include <cstdio>

#include "app/cli.h"
#include "base/exit_codes.h"

namespace bvhost {

int runHelp() {
  std::fputs(usageText().c_str(), stdout);
  return kExitOk;
}

int runVersion() {
  std::fputs(versionText().c_str(), stdout);
  return kExitOk;
}

int runMan() {
  std::fputs(manPage().c_str(), stdout);
  return kExitOk;
}

}  // namespace bvhost
