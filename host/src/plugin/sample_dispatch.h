// bv_read_samples takes a bare function pointer with no user data, so the
// sink for the current read is kept per thread: the plug-in calls back on the
// thread that called it, before the call returns.
#pragma once

#include "plugin/function_table.h"

namespace bvhost {

class SampleHandler {
 public:
  virtual ~SampleHandler() = default;
  virtual void onBlock(const char* component, const char* channel, const SampleBlock& block) = 0;
};

// One bv_read_samples call with handler as the sink. An exception thrown by
// the handler is held back until the plug-in has returned, since it must not
// unwind through the plug-in's frames, and then rethrown here.
PluginResult readSamples(const EntryPoints& api, SampleHandler& handler);

}  // namespace bvhost
