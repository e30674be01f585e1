// `bvhost info`: what a plug-in says about itself and about the sensors it
// finds, as a table for people.
#pragma once

#include <string>

namespace bvhost {

int runInfo(const std::string& pluginPath);

}  // namespace bvhost
