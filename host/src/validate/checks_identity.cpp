// The identity queries: well-formed answers, the same text at the same
// address on every call and in every state, and null pointers refused.
#include <cstring>

#include "plugin/plugin_result.h"
#include "validate/checks.h"

namespace bvhost {
namespace {

struct TextQuery {
  const char* name;
  decltype(&::bv_get_name) query;
};

std::vector<TextQuery> textQueries(const EntryPoints& api) {
  return {{"bv_get_name", api.bv_get_name},
          {"bv_get_description", api.bv_get_description},
          {"bv_get_integration_version", api.bv_get_integration_version},
          {"bv_get_manufacturer_url", api.bv_get_manufacturer_url}};
}

std::vector<StringRef> readTexts(const EntryPoints& api, const std::string& when) {
  std::vector<StringRef> texts;
  for (const auto& [name, query] : textQueries(api)) {
    expect(query != nullptr, std::string("missing entry point ") + name);
    StringRef first{};
    StringRef second{};
    expectSuccess(name, query(&first));
    expectSuccess(name, query(&second));
    expectWellFormed(first, std::string("the text of ") + name + when);
    expect(first.data == second.data && first.length == second.length,
           std::string(name) + " answered at two addresses on two calls" + when);
    texts.push_back(first);
  }
  return texts;
}

void identityWellFormed(CheckContext& context) {
  const EntryPoints& api = context.plugin(true).api();
  const std::vector<StringRef> disconnected = readTexts(api, " while Disconnected");

  expect(api.bv_get_api_version != nullptr, "missing entry point bv_get_api_version");
  ApiVersion version{-1, -1};
  expectSuccess("bv_get_api_version", api.bv_get_api_version(&version));
  expect(version.major >= 0 && version.minor >= 0, "bv_get_api_version wrote a negative number");

  expect(api.bv_get_category != nullptr, "missing entry point bv_get_category");
  std::int32_t category = -1;
  expectSuccess("bv_get_category", api.bv_get_category(&category));

  expect(api.bv_get_contracts != nullptr, "missing entry point bv_get_contracts");
  ListRecord contracts{};
  expectSuccess("bv_get_contracts", api.bv_get_contracts(&contracts));
  expect(contracts.count == 0 || contracts.items != nullptr,
         "bv_get_contracts wrote count " + std::to_string(contracts.count) + " with null items");

  expect(api.bv_get_actions != nullptr, "missing entry point bv_get_actions");
  ListRecord actions{};
  ListRecord again{};
  expectSuccess("bv_get_actions", api.bv_get_actions(&actions));
  expectSuccess("bv_get_actions", api.bv_get_actions(&again));
  expect(actions.items == again.items && actions.count == again.count,
         "bv_get_actions answered two different tables on two calls");
  expect(actions.count >= 1 && actions.items != nullptr, "bv_get_actions lists no action");
  const auto* table = static_cast<const Action*>(actions.items);
  bool scan = false;
  for (std::uint64_t i = 0; i < actions.count; ++i) {
    const std::string what = "the name of action " + std::to_string(i);
    expectWellFormed(table[i].name, what);
    expect(table[i].handler != nullptr, what + " has a null handler");
    expect(table[i].reserved == nullptr, "action " + std::to_string(i) + " has reserved non-zero");
    scan = scan || view(table[i].name) == "Scan";
  }
  expect(scan, "bv_get_actions lists no action named \"Scan\"");

  expect(api.bv_get_state != nullptr, "missing entry point bv_get_state");
  expectState(api, BV_STATE_DISCONNECTED, "right after loading");

  if (api.bv_connect != nullptr && api.bv_disconnect != nullptr) {
    expectSuccess("bv_connect", api.bv_connect(nullptr));
    const std::vector<StringRef> connected = readTexts(api, " while Connected");
    for (std::size_t i = 0; i < connected.size(); ++i) {
      expect(connected[i].data == disconnected[i].data,
             std::string(textQueries(api)[i].name) + " answered at another address once Connected");
    }
    expectSuccess("bv_disconnect", api.bv_disconnect());
  }
}

void nullArgumentsRefused(CheckContext& context) {
  const EntryPoints& api = context.api();
  for (const auto& [name, query] : textQueries(api)) {
    expectRefused(std::string(name) + "(NULL)", query(nullptr), BV_MESSAGE_INVALID_ARGUMENT);
  }
  expectRefused("bv_get_api_version(NULL)", api.bv_get_api_version(nullptr),
                BV_MESSAGE_INVALID_ARGUMENT);
  expectRefused("bv_get_category(NULL)", api.bv_get_category(nullptr), BV_MESSAGE_INVALID_ARGUMENT);
  expectRefused("bv_get_contracts(NULL)", api.bv_get_contracts(nullptr),
                BV_MESSAGE_INVALID_ARGUMENT);
  expectRefused("bv_get_actions(NULL)", api.bv_get_actions(nullptr), BV_MESSAGE_INVALID_ARGUMENT);
  expectRefused("bv_get_state(NULL)", api.bv_get_state(nullptr), BV_MESSAGE_INVALID_ARGUMENT);
}

}  // namespace

std::vector<Check> identityChecks() {
  return {
      {"identity",
       "identity texts non-null, NUL-terminated, length without the NUL, same address on every "
       "call and in every state; actions well formed with \"Scan\"; state 0 after loading",
       &identityWellFormed, 15},
      {"identity-null-argument",
       "every identity query refuses a null pointer with \"" BV_MESSAGE_INVALID_ARGUMENT "\"",
       &nullArgumentsRefused, 10},
  };
}

}  // namespace bvhost
