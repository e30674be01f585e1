// Puts validate's scripted stand-in of the maker's interop library in front
// of the plug-in, inside one check's child process, and hands the check the
// stand-in's script.
#pragma once

#include <string>

#include "standin/standin_script.h"
#include "validate/check_support.h"

namespace bvhost {

// Skips the check (CheckSkipped) unless the plug-in imports the interop
// library; must come before the check first loads the plug-in.
standin::Script& useStandIn(CheckContext& context);

// Where bvhost finds the stand-in: beside itself in a build tree, or in
// ../lib/bvhost once installed.
std::string standInPath();

}  // namespace bvhost
