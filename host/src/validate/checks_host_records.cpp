// Configuration records of 0, 2, 3 and 4 settings that the host built
// itself, passed to bv_connect and to Scan: only a record of exactly three
// settings is applied, and only a value of exactly "true" switches an
// option on.
#include <algorithm>
#include <array>

#include "plugin/plugin_configuration.h"
#include "plugin/plugin_result.h"
#include "validate/checks.h"

namespace bvhost {
namespace {

constexpr std::size_t kRoom = 4;

// A record whose storage is the host's: room for four settings whatever
// count it claims, so a plug-in that reads past the count reads our texts
// rather than beyond an array.
class HostRecord {
 public:
  HostRecord(std::uint64_t count, const std::array<std::string, kRoom>& values) : values_(values) {
    for (std::size_t i = 0; i < kRoom; ++i) {
      settings_[i].name = {names_[i], std::char_traits<char>::length(names_[i])};
      settings_[i].value = {BV_VALUE_KIND_BOOLEAN, {values_[i].c_str(), values_[i].size()}};
      settings_[i].defaultValue = {BV_VALUE_KIND_BOOLEAN, {"true", 4}};
      settings_[i].extraText = {"", 0};
    }
    record_ = {settings_.data(), count, nullptr, 0};
  }
  Configuration* get() { return &record_; }

 private:
  static constexpr const char* names_[kRoom] = {"Start Input Trigger", "Stop Input Trigger",
                                                "Output Triggers", "A fourth setting"};
  std::array<std::string, kRoom> values_;
  std::array<Setting, kRoom> settings_{};
  Configuration record_{};
};

std::string triggerValues(const EntryPoints& api) {
  PluginConfiguration config(api);
  const Configuration& record = config.record();
  std::string values;
  for (std::uint64_t i = 0; i < record.settingCount; ++i) {
    values += (i == 0 ? "" : ", ") + std::string(view(record.settings[i].value.text));
  }
  return values;
}

void expectTriggers(const EntryPoints& api, const std::string& expected, const std::string& after) {
  const std::string got = triggerValues(api);
  expect(got == expected, "after " + after + ", a fresh configuration's settings read " + got +
                              "; expected " + expected);
}

void notApplied(CheckContext& context, std::uint64_t count, const std::string& current) {
  const EntryPoints& api = context.api();
  const ActionHandler scan = scanHandler(api);
  const std::string what = "a host-built record of " + std::to_string(count) + " settings";
  HostRecord record(count, {"false", "false", "false", "false"});
  expectSuccess(("bv_connect with " + what).c_str(), api.bv_connect(record.get()));
  expectTriggers(api, current, "bv_connect with " + what + " reading false");
  expectSuccess(("the Scan action with " + what).c_str(), scan(record.get()));
  expectTriggers(api, current, "the Scan action with " + what + " reading false");
  expectSuccess("bv_disconnect", api.bv_disconnect());
}

void hostRecords(CheckContext& context) {
  const EntryPoints& api = context.api();
  std::array<std::uint64_t, 3> counts = {0, 2, 4};
  std::shuffle(counts.begin(), counts.end(), context.random());
  for (const std::uint64_t count : counts) {
    notApplied(context, count, "true, true, true");
  }
  // Each text that reads almost like "true" sits in one seeded position
  // among "true"s; none of them may switch its option on.
  std::string expected;
  for (const char* nearTrue : {"TRUE", "true ", "", "1", "false"}) {
    const std::uint64_t off = context.random()() % 3;
    std::array<std::string, kRoom> values = {"true", "true", "true", "true"};
    values[off] = nearTrue;
    expected.clear();
    for (std::uint64_t i = 0; i < 3; ++i) {
      expected += (i == 0 ? "" : ", ") + std::string(i == off ? "false" : "true");
    }
    HostRecord record(3, values);
    expectSuccess("bv_connect with a host-built record of 3 settings",
                  api.bv_connect(record.get()));
    expectTriggers(api, expected,
                   "bv_connect with a host-built record reading \"" + values[0] + "\", \"" +
                       values[1] + "\", \"" + values[2] + "\"");
    expectSuccess("bv_disconnect", api.bv_disconnect());
  }
  for (const std::uint64_t count : counts) {
    notApplied(context, count, expected);
  }
}

}  // namespace

std::vector<Check> hostRecordChecks() {
  return {
      {"host-records",
       "host-built records of 0, 2 and 4 settings change no trigger option on bv_connect or "
       "Scan; one of 3 settings is applied, and only \"true\" exactly switches an option on",
       &hostRecords, 15},
  };
}

}  // namespace bvhost
