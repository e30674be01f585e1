// Whether the library is found, exports every name, and survives being
// loaded and unloaded over and over, as a host does between sessions.
#include <dlfcn.h>

#include "plugin/plugin_result.h"
#include "validate/checks.h"

namespace bvhost {
namespace {

void entryPointsPresent(CheckContext& context) {
  const Plugin& plugin = context.plugin(true);
  std::string names;
  for (const auto& name : plugin.missing()) {
    names += (names.empty() ? "" : ", ") + name;
  }
  expect(names.empty(),
         "missing entry point" + std::string(plugin.missing().size() > 1 ? "s: " : ": ") + names);
}

template <typename Function>
Function lookUp(void* handle, const char* name) {
  auto* symbol = reinterpret_cast<Function>(dlsym(handle, name));
  expect(symbol != nullptr, std::string("dlsym found no ") + name + " after reloading");
  return symbol;
}

void loadUnloadCycles(CheckContext& context) {
  const std::string path = pathForDlopen(context.path());
  std::string firstName;
  for (int cycle = 1; cycle <= 20; ++cycle) {
    const std::string when = " in load cycle " + std::to_string(cycle);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    expect(handle != nullptr, "dlopen failed" + when);
    auto getName = lookUp<decltype(&::bv_get_name)>(handle, "bv_get_name");
    auto getState = lookUp<decltype(&::bv_get_state)>(handle, "bv_get_state");
    auto connect = lookUp<decltype(&::bv_connect)>(handle, "bv_connect");
    auto disconnect = lookUp<decltype(&::bv_disconnect)>(handle, "bv_disconnect");
    StringRef name{};
    expectSuccess("bv_get_name", getName(&name));
    expectWellFormed(name, "the name" + when);
    if (cycle == 1) {
      firstName = std::string(view(name));
    }
    expect(view(name) == firstName,
           "the name changed to \"" + std::string(view(name)) + "\"" + when);
    std::int32_t state = -1;
    expectSuccess("bv_get_state", getState(&state));
    expect(state == BV_STATE_DISCONNECTED,
           "state is " + std::to_string(state) + " right after loading" + when);
    expectSuccess("bv_connect", connect(nullptr));
    expectSuccess("bv_disconnect", disconnect());
    if (dlclose(handle) != 0) {
      const char* reason = dlerror();
      throw CheckFailed("dlclose failed" + when + ": " +
                        (reason != nullptr ? reason : "no reason given"));
    }
  }
}

}  // namespace

std::vector<Check> loadingChecks() {
  return {
      {"entry-points", "all sixteen bv_* entry points are exported", &entryPointsPresent, 10},
      {"load-unload-cycles",
       "twenty dlopen/connect/disconnect/dlclose cycles each start Disconnected and succeed",
       &loadUnloadCycles, 30},
  };
}

}  // namespace bvhost
