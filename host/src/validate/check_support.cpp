#include "validate/check_support.h"

#include <cstring>

#include "plugin/plugin_configuration.h"
#include "plugin/plugin_result.h"
#include "plugin/sample_dispatch.h"

namespace bvhost {

Plugin& CheckContext::plugin(bool allowMissing) {
  if (!plugin_) {
    plugin_ = std::make_unique<Plugin>(path_, false);
  }
  if (!allowMissing && !plugin_->missing().empty()) {
    std::string names;
    for (const auto& name : plugin_->missing()) {
      names += (names.empty() ? "" : ", ") + name;
    }
    throw CheckFailed("cannot run: the plug-in lacks " + names);
  }
  return *plugin_;
}

void expect(bool condition, const std::string& reason) {
  if (!condition) {
    throw CheckFailed(reason);
  }
}

void expectSuccess(const char* call, const PluginResult& result) {
  expect(succeeded(result), std::string(call) + " returned " + describe(result) +
                                "; expected success (code 0, null message)");
}

void expectRefused(const std::string& call, const PluginResult& result, const char* message) {
  const bool matches =
      result.code == 1 && result.message != nullptr && std::strcmp(result.message, message) == 0;
  expect(matches, call + " returned " + describe(result) + "; expected code 1 \"" + message + "\"");
}

void expectState(const EntryPoints& api, std::int32_t state, const std::string& when) {
  std::int32_t actual = -1;
  expectSuccess("bv_get_state", api.bv_get_state(&actual));
  expect(actual == state,
         "state is " + std::to_string(actual) + " " + when + "; expected " + std::to_string(state));
}

void expectWellFormed(const StringRef& text, const std::string& what) {
  expect(text.data != nullptr, what + " is a null text");
  expect(text.data[text.length] == '\0',
         what + " is not NUL-terminated right after its length " + std::to_string(text.length));
  expect(std::strlen(text.data) == text.length,
         what + " has length " + std::to_string(text.length) + " but " +
             std::to_string(std::strlen(text.data)) + " characters before the NUL");
}

ActionHandler scanHandler(const EntryPoints& api) {
  ListRecord actions{};
  expectSuccess("bv_get_actions", api.bv_get_actions(&actions));
  const auto* table = static_cast<const Action*>(actions.items);
  for (std::uint64_t i = 0; i < actions.count && table != nullptr; ++i) {
    if (view(table[i].name) == "Scan" && table[i].handler != nullptr) {
      return table[i].handler;
    }
  }
  throw CheckFailed("bv_get_actions lists no \"Scan\" action with a handler");
}

std::vector<ChannelInfo> describedChannels(const EntryPoints& api) {
  PluginConfiguration config(api);
  return channelLayout(config.record());
}

namespace {

class CountingHandler : public SampleHandler {
 public:
  void onBlock(const char*, const char*, const SampleBlock&) override { ++calls; }
  std::uint64_t calls = 0;
};

}  // namespace

std::uint64_t drainReads(const EntryPoints& api) {
  CountingHandler handler;
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t before = handler.calls;
    readSamples(api, handler);
    if (handler.calls == before) {
      break;
    }
  }
  return handler.calls;
}

}  // namespace bvhost
