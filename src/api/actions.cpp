#include "api/actions.h"

#include "api/boundary.h"
#include "session/connection.h"

namespace kessra {

namespace {

PluginResult scanAction(Configuration* config) noexcept {
  return callGuarded([config] { return toResult(scan(config)); });
}

constexpr Action kActions[] = {
    Action{StringRef{"Scan", 4}, scanAction, nullptr},
};

}  // namespace

ListRecord actionList() noexcept {
  return ListRecord{kActions, sizeof(kActions) / sizeof(kActions[0])};
}

}  // namespace kessra
