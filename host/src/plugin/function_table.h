// The sixteen names a host looks up, with the pointer type each one has.
// Only the public header's declarations are used, never its definitions:
// the host must work with any plug-in of this kind, found by path.
#pragma once

#include "kessra_plugin.h"

#define BVHOST_ENTRY_POINTS(X)  \
  X(bv_get_api_version)         \
  X(bv_get_integration_version) \
  X(bv_get_name)                \
  X(bv_get_description)         \
  X(bv_get_manufacturer_url)    \
  X(bv_get_category)            \
  X(bv_get_contracts)           \
  X(bv_get_actions)             \
  X(bv_get_state)               \
  X(bv_connect)                 \
  X(bv_disconnect)              \
  X(bv_get_configuration)       \
  X(bv_free_configuration)      \
  X(bv_start_streaming)         \
  X(bv_stop_streaming)          \
  X(bv_read_samples)

namespace bvhost {

struct EntryPoints {
#define BVHOST_DECLARE_POINTER(name) decltype(&::name) name = nullptr;
  BVHOST_ENTRY_POINTS(BVHOST_DECLARE_POINTER)
#undef BVHOST_DECLARE_POINTER
};

inline constexpr int kEntryPointCount = 16;

}  // namespace bvhost
