#include "device/device_context.h"

namespace kessra {

DeviceContext& deviceContext() noexcept {
  // Constant-initialised, so it exists before the host's first call.
  static constinit DeviceContext context;
  return context;
}

}  // namespace kessra
