#include "config/configuration_store.h"

#include <new>

#include "config/configuration_release.h"
#include "config/host_memory.h"

namespace kessra {

namespace {

// The cache starts with two empty arrays, which a copy-back before any build
// hands out; if no host ever releases them they go when the library unloads,
// with every other block still in hostBlocks().
struct StoreHolder {
  ConfigurationStore store;

  StoreHolder() noexcept {
    // At load time an allocation failure cannot be reported; the store then
    // starts with an empty cache and the first request builds afresh.
    try {
      Configuration& cache = store.cachedConfiguration;
      cache.settings = allocateArray<Setting>(0);
      cache.components = allocateArray<ComponentDescription>(0);
      store.cacheValid = true;
    } catch (const std::bad_alloc&) {
      releaseConfiguration(store.cachedConfiguration);
    }
  }
};

StoreHolder g_holder;

bool sharesStorage(const Configuration& a, const Configuration& b) noexcept {
  return (a.settings != nullptr && a.settings == b.settings) ||
         (a.components != nullptr && a.components == b.components);
}

}  // namespace

ConfigurationStore& configurationStore() noexcept { return g_holder.store; }

void rememberConfiguration(const Configuration& config) noexcept {
  g_holder.store.cachedConfiguration = config;
  g_holder.store.cacheValid = true;
}

void forgetIfCached(const Configuration& config) noexcept {
  ConfigurationStore& store = g_holder.store;
  if (store.cacheValid && sharesStorage(config, store.cachedConfiguration)) {
    store.cachedConfiguration = Configuration{};
    store.cacheValid = false;
  }
}

}  // namespace kessra
