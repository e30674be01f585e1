// Configuration trees: well formed, released safely, and handed back as the
// record last built or applied.
#include <cstring>
#include <map>

#include "base/channel_info.h"
#include "kessra_plugin.h"
#include "plugin/plugin_configuration.h"
#include "plugin/plugin_result.h"
#include "validate/checks.h"

namespace bvhost {
namespace {

// Records each address once, so two fields sharing an allocation are found.
class AddressBook {
 public:
  void add(const void* address, const std::string& what) {
    if (address == nullptr) {
      return;
    }
    const auto [entry, inserted] = owners_.emplace(address, what);
    expect(inserted, what + " shares its storage with " + entry->second);
  }

 private:
  std::map<const void*, std::string> owners_;
};

void checkText(AddressBook& book, const StringRef& text, const std::string& what) {
  expectWellFormed(text, what);
  book.add(text.data, what);
}

void checkSetting(AddressBook& book, const Setting& setting, const std::string& what,
                  bool property) {
  checkText(book, setting.name, what + " name");
  const std::string named = what + " \"" + std::string(view(setting.name)) + "\"";
  checkText(book, setting.value.text, named + " value");
  checkText(book, setting.defaultValue.text, named + " default value");
  checkText(book, setting.extraText, named + " extra text");
  if (property) {
    expect(setting.readOnly, named + " is a property but not read-only");
  } else {
    expect(!setting.readOnly, named + " is read-only, so the host could not set it");
    expect(setting.value.kind == BV_VALUE_KIND_BOOLEAN,
           named + " value has kind " + std::to_string(setting.value.kind) + ", not Boolean");
    const std::string_view value = view(setting.value.text);
    expect(value == "true" || value == "false",
           named + " value reads \"" + std::string(value) + "\", not true or false");
  }
}

// Samples come a frame at a time, so a rate is whole samples per frame over
// the frame period, up to the float it is reported in.
void expectWholeSamplesPerFrame(float rate, const std::string& what) {
  const FrameRate expected = frameRate(rate);
  expect(expected.matches(rate), what + " has rate " + std::to_string(rate) + " Hz; expected " +
                                     std::to_string(expected.rate) + " Hz, " +
                                     std::to_string(expected.samplesPerFrame) +
                                     " whole samples per 13.5 ms frame over the frame period");
}

void checkTree(const Configuration& config, const std::string& when) {
  AddressBook book;
  expect(config.settingCount == 3, "a fresh configuration " + when + " holds " +
                                       std::to_string(config.settingCount) +
                                       " settings; the three trigger settings are expected");
  expect(config.settings != nullptr, "settingCount is 3 but settings is null " + when);
  book.add(config.settings, "the settings array");
  for (std::uint64_t i = 0; i < config.settingCount; ++i) {
    checkSetting(book, config.settings[i], "setting " + std::to_string(i), false);
  }
  expect(config.componentCount == 0 || config.components != nullptr,
         "componentCount is " + std::to_string(config.componentCount) + " but components is null " +
             when);
  book.add(config.components, "the components array");
  for (std::uint64_t c = 0; c < config.componentCount; ++c) {
    const ComponentDescription& component = config.components[c];
    const std::string what = "component " + std::to_string(c);
    checkText(book, component.name, what + " name");
    expect(component.channelCount == 0 || component.channels != nullptr,
           what + " has channelCount " + std::to_string(component.channelCount) +
               " but null channels");
    expect(component.propertyCount == 0 || component.properties != nullptr,
           what + " has propertyCount " + std::to_string(component.propertyCount) +
               " but null properties");
    book.add(component.channels, what + " channel array");
    book.add(component.properties, what + " property array");
    for (std::uint64_t p = 0; p < component.propertyCount; ++p) {
      checkSetting(book, component.properties[p], what + " property " + std::to_string(p), true);
    }
    for (std::uint64_t k = 0; k < component.channelCount; ++k) {
      const ChannelDescription& channel = component.channels[k];
      const std::string channelWhat = what + " channel " + std::to_string(k);
      checkText(book, channel.name, channelWhat + " name");
      expect(channel.rate >= 0.0f && channel.rate < 1.0e7f,
             channelWhat + " has rate " + std::to_string(channel.rate));
      expectWholeSamplesPerFrame(channel.rate, channelWhat);
      expect(channel.unit >= BV_UNIT_METERS && channel.unit <= BV_UNIT_OTHER,
             channelWhat + " has unit code " + std::to_string(channel.unit) + ", outside " +
                 std::to_string(BV_UNIT_METERS) + " to " + std::to_string(BV_UNIT_OTHER));
    }
  }
}

void treesWellFormed(CheckContext& context) {
  const EntryPoints& api = context.api();
  {
    PluginConfiguration config(api);
    checkTree(config.record(), "while Disconnected");
  }
  expectSuccess("bv_connect", api.bv_connect(nullptr));
  {
    PluginConfiguration config(api);
    checkTree(config.record(), "while Connected");
  }
  expectSuccess("bv_disconnect", api.bv_disconnect());
}

void expectCleared(const Configuration& config, const std::string& when) {
  expect(config.settings == nullptr && config.settingCount == 0 && config.components == nullptr &&
             config.componentCount == 0,
         "the record is not null and 0 " + when);
}

void freeTwiceHarmless(CheckContext& context) {
  const EntryPoints& api = context.api();
  expectSuccess("bv_connect", api.bv_connect(nullptr));
  Configuration config{};
  expectSuccess("bv_get_configuration", api.bv_get_configuration(&config));
  expectSuccess("bv_free_configuration", api.bv_free_configuration(&config));
  expectCleared(config, "after bv_free_configuration");
  expectSuccess("a second bv_free_configuration on the same record",
                api.bv_free_configuration(&config));
  expectCleared(config, "after a second bv_free_configuration");
  Configuration empty{};
  expectSuccess("bv_free_configuration on a zeroed record", api.bv_free_configuration(&empty));
  expectSuccess("bv_disconnect", api.bv_disconnect());
}

bool sameRoot(const Configuration& a, const Configuration& b) {
  return a.settings == b.settings && a.settingCount == b.settingCount &&
         a.components == b.components && a.componentCount == b.componentCount;
}

void copyBack(CheckContext& context) {
  const EntryPoints& api = context.api();
  // Any pattern but all-on, the initial state, so that applying shows.
  const auto pattern = static_cast<unsigned>(context.random()() % 7);
  const bool wanted[3] = {(pattern & 1) != 0, (pattern & 2) != 0, (pattern & 4) != 0};

  Configuration built{};
  expectSuccess("bv_get_configuration", api.bv_get_configuration(&built));
  expect(built.settingCount == 3,
         "a fresh configuration holds " + std::to_string(built.settingCount) + " settings, not 3");
  Configuration handedBack{};
  handedBack.settingCount = 3;
  expectSuccess("bv_get_configuration (three settings)", api.bv_get_configuration(&handedBack));
  expect(sameRoot(handedBack, built),
         "a record holding three settings did not receive the configuration just built");

  const PluginResult connected =
      connectWithTriggers(api, built, TriggerOptions{wanted[0], wanted[1], wanted[2]});
  expectSuccess("bv_connect with a three-setting record", connected);

  Configuration applied{};
  applied.settingCount = 3;
  expectSuccess("bv_get_configuration (three settings)", api.bv_get_configuration(&applied));
  expect(sameRoot(applied, built),
         "after bv_connect with a three-setting record, a record holding three settings did not "
         "receive that record back");

  Configuration fresh{};
  expectSuccess("bv_get_configuration", api.bv_get_configuration(&fresh));
  std::string mismatch;
  for (std::uint64_t i = 0; i < 3 && i < fresh.settingCount; ++i) {
    const std::string_view value = view(fresh.settings[i].value.text);
    if (value != (wanted[i] ? "true" : "false")) {
      mismatch += " setting " + std::to_string(i) + " reads \"" + std::string(value) +
                  "\" after \"" + (wanted[i] ? "true" : "false") + "\" was applied;";
    }
  }
  expectSuccess("bv_free_configuration", api.bv_free_configuration(&fresh));
  expectSuccess("bv_free_configuration", api.bv_free_configuration(&built));
  expectSuccess("bv_disconnect", api.bv_disconnect());
  expect(mismatch.empty(), "the applied trigger options did not come back:" + mismatch);
}

}  // namespace

std::vector<Check> configurationChecks() {
  return {
      {"configuration-tree",
       "fresh trees, Disconnected and Connected: three Boolean settings, no null text, "
       "NUL-terminated texts, no shared storage, a pointer behind every non-zero count, every "
       "rate whole samples per 13.5 ms frame over the frame period within float rounding",
       &treesWellFormed, 15},
      {"free-twice",
       "bv_free_configuration leaves the record null and 0, and a second call on it is harmless",
       &freeTwiceHarmless, 15},
      {"copy-back",
       "a record holding three settings receives the tree last built or applied, and applied "
       "trigger values show in the next fresh tree",
       &copyBack, 15},
  };
}

}  // namespace bvhost
