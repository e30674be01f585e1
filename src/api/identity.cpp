#include "api/identity.h"

#include <string_view>

#include "device/device_context.h"

namespace kessra {

namespace {

// The views name string literals, so every call hands out the same address
// and the text is NUL-terminated beyond its length.
constexpr StringRef refTo(std::string_view text) noexcept {
  return StringRef{text.data(), text.size()};
}

}  // namespace

StringRef integrationVersionText() noexcept { return refTo(kIntegrationVersion); }
StringRef deviceNameText() noexcept { return refTo(kDeviceName); }
StringRef descriptionText() noexcept { return refTo(kDescription); }
StringRef manufacturerUrlText() noexcept { return refTo(kManufacturerUrl); }

}  // namespace kessra
