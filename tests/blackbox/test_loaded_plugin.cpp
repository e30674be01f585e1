// The built plug-in, loaded by path with dlopen exactly as a host loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "kessra_plugin.h"

namespace {

class LoadedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(KESSRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }

  template <typename Function>
  Function lookup(const char* name) {
    void* symbol = dlsym(handle_, name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<Function>(symbol);
  }

  void* handle_ = nullptr;
};

TEST_F(LoadedPlugin, AnswersIdentityQueriesByUndecoratedName) {
  auto getName = lookup<PluginResult (*)(StringRef*)>("bv_get_name");
  auto getState = lookup<PluginResult (*)(int32_t*)>("bv_get_state");
  ASSERT_NE(getName, nullptr);
  ASSERT_NE(getState, nullptr);
  StringRef name{};
  EXPECT_EQ(getName(&name).code, 0);
  EXPECT_EQ(std::string(name.data, name.length), "Orvane Kessra");
  int32_t state = -1;
  EXPECT_EQ(getState(&state).code, 0);
  EXPECT_EQ(state, BV_STATE_DISCONNECTED);
}

TEST_F(LoadedPlugin, HidesItsInternalSymbols) {
  EXPECT_EQ(dlsym(handle_, "_ZN6kessra13deviceContextEv"), nullptr);
  EXPECT_EQ(dlsym(handle_,
                  "_ZN6kessra14buildInventoryENSt7__cxx1112basic_stringIcSt11char_"
                  "traitsIcESaIcEEE"),
            nullptr);
}

}  // namespace
