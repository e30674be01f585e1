// Opening, re-reading and closing the sensor system.
#pragma once

#include "kessra_plugin.h"

namespace kessra {

// Each returns the PluginResult the host sees. On an allocation failure
// they throw std::bad_alloc and leave the plug-in as it was before the call.
PluginResult connect(const Configuration* config);
PluginResult disconnect();
PluginResult scan(const Configuration* config);

}  // namespace kessra
