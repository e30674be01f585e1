// The action table. Its handlers are entry points in all but name: the host
// calls them through the pointers in the table, so they live with the other
// entry points and guard and translate their work the same way.
#pragma once

#include "kessra_plugin.h"

namespace kessra {

// The host-visible action table: static, read-only, valid while loaded.
ListRecord actionList() noexcept;

}  // namespace kessra
