// Opening, re-reading and closing the sensor system. These drive the device
// context, the inventory and the trigger options together, so they sit in a
// folder above all three; nothing those folders hold includes this one.
#pragma once

#include "device/outcome.h"
#include "kessra_plugin.h"

namespace kessra {

// Each refuses what the present state does not allow and changes nothing
// then. On an allocation failure they throw std::bad_alloc and leave the
// plug-in as it was before the call.
Outcome connect(const Configuration* config);
Outcome disconnect();
Outcome scan(const Configuration* config);

}  // namespace kessra
