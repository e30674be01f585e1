// The built plug-in, loaded by path with dlopen exactly as a host loads it,
// driving the stand-in interop library that sits beside it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "kessra_plugin.h"

namespace {

// The sixteen entry points, looked up by their undecorated names.
struct PluginApi {
  PluginResult (*getApiVersion)(ApiVersion*);
  PluginResult (*getIntegrationVersion)(StringRef*);
  PluginResult (*getName)(StringRef*);
  PluginResult (*getDescription)(StringRef*);
  PluginResult (*getManufacturerUrl)(StringRef*);
  PluginResult (*getCategory)(int32_t*);
  PluginResult (*getContracts)(ListRecord*);
  PluginResult (*getActions)(ListRecord*);
  PluginResult (*getState)(int32_t*);
  PluginResult (*connect)(Configuration*);
  PluginResult (*disconnect)();
  PluginResult (*getConfiguration)(Configuration*);
  PluginResult (*freeConfiguration)(Configuration*);
  PluginResult (*startStreaming)();
  PluginResult (*stopStreaming)();
  PluginResult (*readSamples)(SampleCallback);
};

class LoadedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(KESSRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    bind(api_.getApiVersion, "bv_get_api_version");
    bind(api_.getIntegrationVersion, "bv_get_integration_version");
    bind(api_.getName, "bv_get_name");
    bind(api_.getDescription, "bv_get_description");
    bind(api_.getManufacturerUrl, "bv_get_manufacturer_url");
    bind(api_.getCategory, "bv_get_category");
    bind(api_.getContracts, "bv_get_contracts");
    bind(api_.getActions, "bv_get_actions");
    bind(api_.getState, "bv_get_state");
    bind(api_.connect, "bv_connect");
    bind(api_.disconnect, "bv_disconnect");
    bind(api_.getConfiguration, "bv_get_configuration");
    bind(api_.freeConfiguration, "bv_free_configuration");
    bind(api_.startStreaming, "bv_start_streaming");
    bind(api_.stopStreaming, "bv_stop_streaming");
    bind(api_.readSamples, "bv_read_samples");
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }

  template <typename Function>
  void bind(Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(handle_, name));
    ASSERT_NE(function, nullptr) << "missing entry point " << name;
  }

  int32_t state() {
    int32_t value = -1;
    EXPECT_EQ(api_.getState(&value).code, 0);
    return value;
  }

  void* handle_ = nullptr;
  PluginApi api_{};
};

void expectOk(const PluginResult& result) {
  EXPECT_EQ(result.code, 0) << (result.message != nullptr ? result.message : "");
}

// What the host's callback saw, per (component, channel).
struct Stream {
  uint64_t blocks = 0;
  uint64_t samples = 0;
  bool contiguous = true;
};
std::map<std::pair<std::string, std::string>, Stream> g_streams;

void collect(const char* component, const char* channel, const SampleBlock* block) {
  Stream& stream = g_streams[{component, channel}];
  stream.contiguous = stream.contiguous && block->firstIndex == stream.samples &&
                      block->kind == 1 && (block->count == 0) == (block->values == nullptr);
  stream.samples += block->count;
  ++stream.blocks;
}

TEST_F(LoadedPlugin, AnswersIdentityQueriesByUndecoratedName) {
  StringRef name{};
  expectOk(api_.getName(&name));
  EXPECT_EQ(std::string(name.data, name.length), "Orvane Kessra");
  ApiVersion version{};
  expectOk(api_.getApiVersion(&version));
  EXPECT_EQ(version.minor, 7);
  EXPECT_EQ(state(), BV_STATE_DISCONNECTED);
}

TEST_F(LoadedPlugin, HidesItsInternalSymbols) {
  EXPECT_EQ(dlsym(handle_, "_ZN6kessra13deviceContextEv"), nullptr);
  EXPECT_EQ(dlsym(handle_, "_ZN6kessra15clearInventoryEv"), nullptr);
}

TEST_F(LoadedPlugin, RunsAWholeSessionAsAHostDoes) {
  Configuration config{};
  expectOk(api_.connect(nullptr));
  expectOk(api_.getConfiguration(&config));
  ASSERT_GT(config.componentCount, 0u);
  std::set<std::pair<std::string, std::string>> described;
  for (uint64_t i = 0; i < config.componentCount; ++i) {
    const ComponentDescription& component = config.components[i];
    for (uint64_t k = 0; k < component.channelCount; ++k) {
      described.insert({component.name.data, component.channels[k].name.data});
    }
  }

  g_streams.clear();
  expectOk(api_.startStreaming());
  EXPECT_EQ(state(), BV_STATE_STREAMING);
  for (int read = 0; read < 20; ++read) {
    expectOk(api_.readSamples(collect));
  }
  expectOk(api_.stopStreaming());
  expectOk(api_.readSamples(collect));  // the drain
  uint64_t blocks = 0;
  for (const auto& entry : g_streams) blocks += entry.second.blocks;
  expectOk(api_.readSamples(collect));
  uint64_t blocksAfterDrain = 0;
  for (const auto& entry : g_streams) blocksAfterDrain += entry.second.blocks;
  EXPECT_EQ(blocksAfterDrain, blocks) << "the drain left frames behind";
  expectOk(api_.disconnect());
  EXPECT_EQ(state(), BV_STATE_DISCONNECTED);

  ASSERT_FALSE(g_streams.empty()) << "a second of acquisition delivered nothing";
  for (const auto& [key, stream] : g_streams) {
    EXPECT_EQ(described.count(key), 1u) << key.first << " / " << key.second;
    EXPECT_TRUE(stream.contiguous) << key.second;
  }
  EXPECT_EQ(g_streams.size(), described.size()) << "every described channel got blocks";
  expectOk(api_.freeConfiguration(&config));
  EXPECT_EQ(config.settings, nullptr);
  EXPECT_EQ(config.components, nullptr);
}

}  // namespace
