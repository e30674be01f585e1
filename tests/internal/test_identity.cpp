// Identity and capability queries as a host sees them, through the exported
// functions linked in directly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_interop.h"
#include "kessra_plugin.h"

namespace {

std::string textOf(const StringRef& ref) { return std::string(ref.data, ref.length); }

void expectSuccess(const PluginResult& result) {
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.message, nullptr);
}

TEST(IdentityQueries, AnswerTheFixedTextsWithStableAddresses) {
  using Query = PluginResult (*)(StringRef*) noexcept;
  const std::pair<Query, const char*> queries[] = {
      {bv_get_integration_version, "1.0.14"},
      {bv_get_name, "Orvane Kessra"},
      {bv_get_description, "Orvane EMG System"},
      {bv_get_manufacturer_url, "www.orvane.example"},
  };
  for (const auto& [query, expected] : queries) {
    StringRef first{};
    StringRef second{};
    expectSuccess(query(&first));
    expectSuccess(query(&second));
    EXPECT_EQ(textOf(first), expected);
    EXPECT_EQ(first.length, std::strlen(expected));
    EXPECT_EQ(first.data[first.length], '\0') << "text is NUL-terminated beyond its length";
    EXPECT_EQ(first.data, second.data) << expected;
  }
}

TEST(IdentityQueries, AnswerTheNumbersAndAnEmptyContractList) {
  ApiVersion version{-1, -1};
  expectSuccess(bv_get_api_version(&version));
  EXPECT_EQ(version.major, 0);
  EXPECT_EQ(version.minor, 7);

  int32_t category = -1;
  expectSuccess(bv_get_category(&category));
  EXPECT_EQ(category, 1);

  int dummy = 0;
  ListRecord contracts{&dummy, 99};
  expectSuccess(bv_get_contracts(&contracts));
  EXPECT_EQ(contracts.items, nullptr);
  EXPECT_EQ(contracts.count, 0u);
}

TEST(IdentityQueries, FreshPluginIsDisconnectedAndTouchesNoDevice) {
  int32_t state = -1;
  expectSuccess(bv_get_state(&state));
  EXPECT_EQ(state, BV_STATE_DISCONNECTED);
  EXPECT_TRUE(fake::interop().calls.empty());
}

TEST(IdentityQueries, RefuseNullPointersInsteadOfCrashing) {
  const PluginResult results[] = {
      bv_get_api_version(nullptr),
      bv_get_integration_version(nullptr),
      bv_get_name(nullptr),
      bv_get_description(nullptr),
      bv_get_manufacturer_url(nullptr),
      bv_get_category(nullptr),
      bv_get_contracts(nullptr),
      bv_get_state(nullptr),
  };
  for (const PluginResult& result : results) {
    EXPECT_EQ(result.code, 1);
    EXPECT_STREQ(result.message, BV_MESSAGE_INVALID_ARGUMENT);
  }
}

}  // namespace
