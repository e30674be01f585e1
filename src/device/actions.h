#pragma once

#include "kessra_plugin.h"

namespace kessra {

// The host-visible action table: static, read-only, valid while loaded.
ListRecord actionList() noexcept;

}  // namespace kessra
