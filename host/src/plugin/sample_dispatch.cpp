#include "plugin/sample_dispatch.h"

#include <exception>

namespace bvhost {
namespace {

struct ActiveRead {
  SampleHandler* handler = nullptr;
  std::exception_ptr failure;
};

thread_local ActiveRead* activeRead = nullptr;

void trampoline(const char* component, const char* channel, const SampleBlock* block) {
  ActiveRead* read = activeRead;
  if (read == nullptr || read->failure || block == nullptr) {
    return;
  }
  try {
    read->handler->onBlock(component, channel, *block);
  } catch (...) {
    read->failure = std::current_exception();
  }
}

}  // namespace

PluginResult readSamples(const EntryPoints& api, SampleHandler& handler) {
  ActiveRead read{&handler, nullptr};
  ActiveRead* outer = activeRead;
  activeRead = &read;
  const PluginResult result = api.bv_read_samples(&trampoline);
  activeRead = outer;
  if (read.failure) {
    std::rethrow_exception(read.failure);
  }
  return result;
}

}  // namespace bvhost
