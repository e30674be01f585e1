// The trigger options and the configuration last built or applied.
#pragma once

#include "kessra_plugin.h"

namespace kessra {

// Process-wide; only the configuration code reads or writes it.
struct ConfigurationStore {
  bool startInputTrigger = true;
  bool stopInputTrigger = true;
  bool outputTriggers = true;

  // Names, without owning, the root of the configuration last built or
  // applied: a copy-back hands these root fields out again, so two records
  // may then share one tree. Invalid once the host has released that
  // storage, so it can never hand out released memory.
  Configuration cachedConfiguration{};
  bool cacheValid = false;
};

ConfigurationStore& configurationStore() noexcept;

// Makes config the new cache entry (a fresh build or an apply).
void rememberConfiguration(const Configuration& config) noexcept;

// The host is releasing config: forget the cache if it names that storage.
void forgetIfCached(const Configuration& config) noexcept;

}  // namespace kessra
