// Configuration trees the plug-in allocates, held so that each one is
// released exactly once through bv_free_configuration.
#pragma once

#include "plugin/function_table.h"

namespace bvhost {

struct TriggerOptions {
  bool startInput = true;
  bool stopInput = true;
  bool outputTriggers = true;
};

class PluginConfiguration {
 public:
  // Asks for a fresh tree: a record with no settings is never answered with
  // the plug-in's cached copy.
  explicit PluginConfiguration(const EntryPoints& api);
  ~PluginConfiguration();
  PluginConfiguration(const PluginConfiguration&) = delete;
  PluginConfiguration& operator=(const PluginConfiguration&) = delete;

  Configuration& record() { return record_; }
  const Configuration& record() const { return record_; }

 private:
  const EntryPoints& api_;
  Configuration record_{};
};

// Connects with a three-setting record carrying the trigger options. The
// record is the plug-in's own tree with the value texts pointed at host
// literals for the call only, then restored, so that freeing it releases
// exactly what the plug-in allocated.
PluginResult connectWithTriggers(const EntryPoints& api, const TriggerOptions& triggers);

// The same on a three-setting tree the caller holds: its value texts carry
// the options for the bv_connect call only and are restored afterwards.
PluginResult connectWithTriggers(const EntryPoints& api, Configuration& tree,
                                 const TriggerOptions& triggers);

}  // namespace bvhost
