// libFuzzer entry: the input drives both sides of the plug-in. The fuzz
// device (fuzz_interop.cpp) reads its answers from it, and this file plays a
// host that reads from it a sequence of entry-point calls: connect, Scan
// through the action table, configurations fetched, changed, handed back and
// released in any order a host may use, start, stop, reads and disconnect.
//
// Alongside the sanitizers, every answer is checked against what a host is
// promised: results, states, well-formed configuration trees, and each
// sample block against the frame it came from, bit for bit.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration_build.h"
#include "config/host_blocks.h"
#include "device/device_context.h"
#include "fuzz_interop.h"
#include "inventory/inventory.h"
#include "kessra_plugin.h"

namespace {

constexpr int kMaxCalls = 64;
constexpr std::size_t kSlots = 6;

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "host check failed: %s\n", what);
  std::abort();
}

void require(bool condition, const char* what) {
  if (!condition) fault(what);
}

bool sameText(const char* a, const char* b) {
  return a == nullptr ? b == nullptr : b != nullptr && std::strcmp(a, b) == 0;
}

void requireResult(const PluginResult& result, const char* message, const char* what) {
  require(result.code == (message == nullptr ? 0 : 1) && sameText(result.message, message), what);
}

std::int32_t state() {
  std::int32_t value = -1;
  requireResult(bv_get_state(&value), nullptr, "get_state");
  return value;
}

// ---------------------------------------------------------------------------
// Configuration trees and the host records that name them.

// A tree the host knows of: one of the plug-in's, or one it built itself.
struct Tree {
  Setting* settings = nullptr;
  bool plugin = false;
  bool alive = false;
};

// A host record and which tree it names; a stale record names a tree that
// was released through another record and may only be overwritten.
struct Slot {
  Configuration record{};
  int tree = -1;
  bool stale = false;
};

// A record the host builds itself, with 0 to 4 settings and values that
// are "true" only in some spellings.
struct HostRecord {
  std::vector<Setting> settings;
  Configuration record{};
};

constexpr const char* kValueTexts[] = {"true", "false", "TRUE", "", "true ", "1", "tru", nullptr};

struct Session {
  std::vector<Tree> trees;
  Slot slots[kSlots];
  HostRecord hostRecords[5];
  bool options[3] = {true, true, true};  // the trigger options as last applied
  bool drainRequested = false;
  std::vector<std::uint64_t> counters;  // per inventory channel, as a host counts
};

Session* g_session = nullptr;

int findTree(const Setting* settings) {
  for (std::size_t t = 0; t < g_session->trees.size(); ++t) {
    const Tree& tree = g_session->trees[t];
    if (tree.alive && tree.settings == settings) return static_cast<int>(t);
  }
  return -1;
}

void checkText(const StringRef& text, std::string_view expected, bool compare) {
  require(text.data != nullptr, "text is null");
  require(text.data[text.length] == '\0', "text not terminated at its length");
  require(std::strlen(text.data) <= text.length, "text length");
  require(!compare || std::string_view(text.data, text.length) == expected, "text content");
}

void checkSetting(const Setting& setting, std::string_view name, bool readOnly, int kind,
                  std::string_view value, std::string_view defaultValue, bool compareValue) {
  checkText(setting.name, name, true);
  require(setting.readOnly == readOnly, "readOnly");
  require(setting.value.kind == kind && setting.defaultValue.kind == kind, "value kind");
  checkText(setting.value.text, value, compareValue);
  checkText(setting.defaultValue.text, defaultValue, true);
  checkText(setting.extraText, "", true);
}

// A tree the plug-in has just built: everything a host may rely on.
void checkFreshTree(const Configuration& config) {
  static constexpr std::string_view kNames[] = {"Start Input Trigger", "Stop Input Trigger",
                                                "Output Triggers"};
  require(config.settings != nullptr && config.settingCount == 3, "three settings");
  for (int i = 0; i < 3; ++i) {
    checkSetting(config.settings[i], kNames[i], false, BV_VALUE_KIND_BOOLEAN,
                 g_session->options[i] ? "true" : "false", "true", true);
  }
  const auto& inventory = kessra::inventory();
  const std::int32_t sensors = kessra::deviceContext().metadata.sensorCount;
  const std::uint64_t expected =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(sensors, 0)), inventory.size());
  require(config.components != nullptr && config.componentCount == expected, "component count");
  for (std::uint64_t i = 0; i < config.componentCount; ++i) {
    const ComponentDescription& component = config.components[i];
    const kessra::SensorComponent& source = inventory[i];
    require(component.kind == 1, "component kind");
    checkText(component.name, source.name, true);
    require(component.propertyCount == 2 && component.properties != nullptr, "two properties");
    checkSetting(component.properties[0], "SID", true, BV_VALUE_KIND_TEXT, source.sid, "<unknown>",
                 true);
    checkSetting(component.properties[1], "Battery Percentage", true, BV_VALUE_KIND_TEXT,
                 source.battery + "%", "<unknown>", true);
    require(component.channels != nullptr && component.channelCount == source.channels.size(),
            "channel count");
    for (std::uint64_t k = 0; k < component.channelCount; ++k) {
      const ChannelDescription& channel = component.channels[k];
      checkText(channel.name, source.channels[k].name, true);
      require(channel.kind == 1, "channel kind");
      require(channel.unit >= 0 && channel.unit <= 16 && channel.unit != 1 && channel.unit != 10 &&
                  channel.unit != 15,
              "unit code");
      require(std::isfinite(channel.rate) && channel.rate >= 0.0f, "rate finite");
      require(channel.rate == kessra::channelRate(source.channels[k].samplesPerFrame), "rate");
    }
  }
}

// A value text the host put into a tree itself, null included.
bool isHostText(const char* text) {
  return std::find(std::begin(kValueTexts), std::end(kValueTexts), text) != std::end(kValueTexts);
}

// Reading a tree the host holds touches all its storage, so a tree the
// plug-in had released would show up at once.
void touchTree(const Configuration& config) {
  for (std::uint64_t i = 0; i < config.settingCount; ++i) {
    checkText(config.settings[i].name, "", false);
    if (!isHostText(config.settings[i].value.text.data)) {
      checkText(config.settings[i].value.text, "", false);
    }
  }
  for (std::uint64_t i = 0; i < config.componentCount; ++i) {
    checkText(config.components[i].name, "", false);
    for (std::uint64_t k = 0; k < config.components[i].channelCount; ++k) {
      checkText(config.components[i].channels[k].name, "", false);
    }
  }
}

bool heldElsewhere(std::size_t slot, int tree) {
  for (std::size_t s = 0; s < kSlots; ++s) {
    if (s != slot && !g_session->slots[s].stale && g_session->slots[s].tree == tree) return true;
  }
  return false;
}

void release(std::size_t s) {
  Slot& slot = g_session->slots[s];
  const int tree = slot.tree;
  requireResult(bv_free_configuration(&slot.record), nullptr, "free");
  require(slot.record.settings == nullptr && slot.record.settingCount == 0 &&
              slot.record.components == nullptr && slot.record.componentCount == 0,
          "a released record reads null and 0");
  if (tree >= 0) {
    g_session->trees[static_cast<std::size_t>(tree)].alive = false;
    for (Slot& other : g_session->slots) {
      if (other.tree == tree) other.stale = true;
    }
  }
  slot.tree = -1;
  slot.stale = false;
}

// A host must not lose the only record of a plug-in tree: it releases it
// before reusing the record.
void makeReusable(std::size_t s) {
  Slot& slot = g_session->slots[s];
  if (!slot.stale && slot.tree >= 0 &&
      g_session->trees[static_cast<std::size_t>(slot.tree)].plugin &&
      !heldElsewhere(s, slot.tree)) {
    release(s);
  }
}

void getInto(std::size_t s, FuzzedDataProvider& in) {
  // A host may also overwrite the only record of a tree; the plug-in then
  // keeps that tree until it unloads.
  if (in.ConsumeBool()) makeReusable(s);
  Slot& slot = g_session->slots[s];
  // Only settingCount is read; the rest of the record is overwritten.
  slot.record.settingCount = in.ConsumeIntegralInRange<std::uint64_t>(0, 4);
  requireResult(bv_get_configuration(&slot.record), nullptr, "get_configuration");
  slot.stale = false;
  const int known = findTree(slot.record.settings);
  if (known >= 0) {
    slot.tree = known;
    if (g_session->trees[static_cast<std::size_t>(known)].plugin) touchTree(slot.record);
    return;
  }
  checkFreshTree(slot.record);
  g_session->trees.push_back(Tree{slot.record.settings, true, true});
  slot.tree = static_cast<int>(g_session->trees.size() - 1);
}

// Any record may go back to the plug-in: one it shares with another, one
// whose tree was released through another, one already freed, or one the
// host built itself. Only a plug-in tree still alive is released.
void freeSlot(std::size_t s) {
  Slot& slot = g_session->slots[s];
  if (slot.stale || slot.tree < 0 ||
      !g_session->trees[static_cast<std::size_t>(slot.tree)].plugin) {
    requireResult(bv_free_configuration(&slot.record), nullptr, "free");
    require(slot.record.settings == nullptr && slot.record.components == nullptr,
            "a freed record reads null");
    slot.tree = -1;
    slot.stale = false;
    return;
  }
  release(s);
}

void freeHostRecord(HostRecord& host) {
  const std::vector<Setting> before = host.settings;
  requireResult(bv_free_configuration(&host.record), nullptr, "free host record");
  require(host.record.settings == nullptr, "a freed host record reads null");
  require(before.empty() || std::memcmp(before.data(), host.settings.data(),
                                        before.size() * sizeof(Setting)) == 0,
          "the host's own settings untouched");
}

// A host may change a setting's value in place, within the text it holds.
void changeValue(std::size_t s, FuzzedDataProvider& in) {
  Slot& slot = g_session->slots[s];
  if (slot.stale || slot.tree < 0 ||
      !g_session->trees[static_cast<std::size_t>(slot.tree)].plugin ||
      slot.record.settingCount == 0) {
    return;
  }
  Setting& setting =
      slot.record
          .settings[in.ConsumeIntegralInRange<std::uint64_t>(0, slot.record.settingCount - 1)];
  if (in.ConsumeBool()) {
    // Or it points the value at a text of its own, which the plug-in must
    // never release.
    const char* value = in.PickValueInArray(kValueTexts);
    setting.value.text = StringRef{value, value != nullptr ? std::strlen(value) : 0};
    return;
  }
  if (isHostText(setting.value.text.data)) {
    return;  // in place only within the plug-in's own text
  }
  char* text = const_cast<char*>(setting.value.text.data);
  const std::string bytes = in.ConsumeRandomLengthString(setting.value.text.length);
  std::memcpy(text, bytes.data(), bytes.size());
}

// The record handed to connect or Scan, or null.
Configuration* recordToHandBack(FuzzedDataProvider& in) {
  const int pick = in.ConsumeIntegralInRange<int>(0, static_cast<int>(kSlots) + 5);
  if (pick < static_cast<int>(kSlots)) {
    Slot& slot = g_session->slots[pick];
    // A record naming released storage is never handed back.
    return slot.stale ? nullptr : &slot.record;
  }
  if (pick == static_cast<int>(kSlots) + 5) return nullptr;
  HostRecord& host = g_session->hostRecords[pick - static_cast<int>(kSlots)];
  host.record = Configuration{host.settings.empty() ? nullptr : host.settings.data(),
                              host.settings.size(), nullptr, 0};
  for (Setting& setting : host.settings) {
    const char* value = in.PickValueInArray(kValueTexts);
    setting.value.text = StringRef{value, value != nullptr ? std::strlen(value) : 0};
  }
  return &host.record;
}

// What an apply does to the trigger options, predicted from the record.
void expectApplied(const Configuration* config, std::uint64_t configureCallsBefore) {
  const fuzzdev::Device& device = fuzzdev::device();
  if (config == nullptr || config->settingCount != 3 || config->settings == nullptr) {
    require(device.configureCalls == configureCallsBefore, "configure without three settings");
    return;
  }
  for (int i = 0; i < 3; ++i) {
    g_session->options[i] = sameText(config->settings[i].value.text.data, "true");
  }
  require(device.configureCalls == configureCallsBefore + 1, "configure once");
  require(device.configured[0] && device.configured[1] == g_session->options[0] &&
              device.configured[2] == g_session->options[1] &&
              device.configured[3] == g_session->options[2],
          "configure arguments");
}

void inventoryRebuilt() {
  std::size_t channels = 0;
  for (const auto& component : kessra::inventory()) {
    require(component.channels.size() == component.channels.capacity(), "channels trimmed");
    channels += component.channels.size();
  }
  require(kessra::inventory().size() == kessra::inventory().capacity(), "inventory trimmed");
  fuzzdev::device().inventoryChannels = channels;
  g_session->counters.assign(channels, 0);
}

// ---------------------------------------------------------------------------
// Reads: each block is compared with the frame the device handed out.

struct ReadCheck {
  std::vector<std::pair<const char*, const char*>> channels;  // component, channel names
  std::uint64_t frame = 0;  // the device's poll count the cursor belongs to
  std::size_t cursor = 0;
  std::size_t sampleOffset = 0;
  std::uint64_t blocks = 0;
  long throwAtBlock = -1;
  long stopAtBlock = -1;
};

ReadCheck g_read;

void onBlock(const char* component, const char* channel, const SampleBlock* block) {
  const fuzzdev::Device& device = fuzzdev::device();
  if (device.framesPolled != g_read.frame) {
    require(g_read.frame == 0 || g_read.cursor == g_read.channels.size(),
            "a frame ended before every channel had its block");
    g_read.frame = device.framesPolled;
    g_read.cursor = 0;
    g_read.sampleOffset = 0;
  }
  require(g_read.cursor < g_read.channels.size(), "more blocks than channels");
  const std::size_t position = g_read.cursor;
  require(
      component == g_read.channels[position].first && channel == g_read.channels[position].second,
      "block names another channel");
  const std::int32_t count = device.current.sampleCounts[position];
  const std::uint64_t expected = count > 0 ? static_cast<std::uint64_t>(count) : 0;
  require(block != nullptr && block->kind == 1 && block->count == expected, "block count");
  require((block->values == nullptr) == (expected == 0), "values null exactly when empty");
  require(block->firstIndex == g_session->counters[position], "first index");
  if (expected > 0) {
    require(std::memcmp(block->values, device.current.samples.data() + g_read.sampleOffset,
                        expected * sizeof(float)) == 0,
            "sample bits changed");
  }
  g_read.sampleOffset += expected;
  ++g_read.cursor;
  const long index = static_cast<long>(g_read.blocks++);
  if (index == g_read.stopAtBlock) {
    const bool streaming = state() == BV_STATE_STREAMING;
    requireResult(bv_stop_streaming(), streaming ? nullptr : BV_MESSAGE_NOT_STREAMING,
                  "stop inside the callback");
    if (streaming) g_session->drainRequested = true;
  }
  if (index == g_read.throwAtBlock) {
    throw std::runtime_error("host callback fault");
  }
  g_session->counters[position] += expected;
}

void read(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange<int>(0, 31) == 0) {
    requireResult(bv_read_samples(nullptr), BV_MESSAGE_INVALID_ARGUMENT, "null callback");
    return;
  }
  fuzzdev::Device& device = fuzzdev::device();
  g_read.channels.clear();
  for (auto& component : kessra::inventory()) {
    for (auto& channel : component.channels) {
      g_read.channels.emplace_back(component.name.c_str(), channel.name.c_str());
    }
  }
  require(g_read.channels.size() == device.inventoryChannels, "inventory changed unseen");
  g_read.frame = device.framesPolled;
  g_read.cursor = g_read.channels.size();
  g_read.blocks = 0;
  g_read.throwAtBlock =
      in.ConsumeIntegralInRange<int>(0, 7) == 0 ? in.ConsumeIntegralInRange<long>(0, 300) : -1;
  g_read.stopAtBlock =
      in.ConsumeIntegralInRange<int>(0, 7) == 0 ? in.ConsumeIntegralInRange<long>(0, 300) : -1;
  const std::uint32_t pendingBefore = device.framesPending;
  const std::uint64_t polledBefore = device.framesPolled;
  const PluginResult result = bv_read_samples(onBlock);
  const std::uint64_t delivered = device.framesPolled - polledBefore;
  const bool threw =
      g_read.throwAtBlock >= 0 && g_read.blocks > static_cast<std::uint64_t>(g_read.throwAtBlock);
  if (threw) {
    requireResult(result, BV_MESSAGE_INTERNAL_ERROR, "callback exception at the boundary");
    // The frame was cut short: the next one starts afresh.
    g_read.frame = 0;
  } else {
    requireResult(result, nullptr, "read");
    require(g_read.cursor == g_read.channels.size() || delivered == 0, "frame cut short");
    if (g_session->drainRequested) {
      require(device.framesPending == 0, "a drain leaves frames behind");
      g_session->drainRequested = false;
    } else {
      require(delivered == std::min<std::uint64_t>(pendingBefore, 1), "one frame per read");
      if (pendingBefore == 0) g_session->drainRequested = false;
    }
  }
  require(kessra::deviceContext().drainRequested.load() == g_session->drainRequested, "drain flag");
}

// ---------------------------------------------------------------------------
// The other entry points, each with the result and state a host expects.

void identity(FuzzedDataProvider& in) {
  StringRef text{};
  requireResult(bv_get_name(&text), nullptr, "name");
  require(text.length == 13 && std::strcmp(text.data, "Orvane Kessra") == 0, "name text");
  requireResult(bv_get_description(&text), nullptr, "description");
  require(text.length == 17 && text.data[17] == '\0', "description text");
  requireResult(bv_get_integration_version(&text), nullptr, "version");
  require(text.length == 6 && std::strcmp(text.data, "1.0.14") == 0, "version text");
  requireResult(bv_get_manufacturer_url(&text), nullptr, "url");
  ApiVersion version{};
  requireResult(bv_get_api_version(&version), nullptr, "api version");
  require(version.major == 0 && version.minor == 7, "api version value");
  std::int32_t category = 0;
  requireResult(bv_get_category(&category), nullptr, "category");
  require(category == 1, "category value");
  ListRecord list{};
  requireResult(bv_get_contracts(&list), nullptr, "contracts");
  require(list.items == nullptr && list.count == 0, "no contracts");
  requireResult(bv_get_actions(&list), nullptr, "actions");
  require(list.count == 1, "one action");
  if (in.ConsumeBool()) {
    requireResult(bv_get_name(nullptr), BV_MESSAGE_INVALID_ARGUMENT, "null name");
    requireResult(bv_get_state(nullptr), BV_MESSAGE_INVALID_ARGUMENT, "null state");
    requireResult(bv_get_actions(nullptr), BV_MESSAGE_INVALID_ARGUMENT, "null actions");
    requireResult(bv_get_configuration(nullptr), BV_MESSAGE_INVALID_ARGUMENT, "null config");
    requireResult(bv_free_configuration(nullptr), nullptr, "free null");
  }
}

void connect(FuzzedDataProvider& in) {
  Configuration* config = recordToHandBack(in);
  const std::int32_t before = state();
  const std::uint64_t configures = fuzzdev::device().configureCalls;
  const PluginResult result = bv_connect(config);
  if (before != BV_STATE_DISCONNECTED) {
    requireResult(result, BV_MESSAGE_ALREADY_CONNECTED, "connect twice");
    require(state() == before, "state after a refused connect");
    return;
  }
  requireResult(result, nullptr, "connect");
  require(state() == BV_STATE_CONNECTED, "connected");
  inventoryRebuilt();
  expectApplied(config, configures);
}

void scan(FuzzedDataProvider& in) {
  Configuration* config = recordToHandBack(in);
  const std::int32_t before = state();
  const std::uint64_t configures = fuzzdev::device().configureCalls;
  ListRecord actions{};
  bv_get_actions(&actions);
  const Action& action = static_cast<const Action*>(actions.items)[0];
  require(action.name.length == 4 && std::strcmp(action.name.data, "Scan") == 0, "Scan name");
  const PluginResult result = action.handler(config);
  require(state() == before, "Scan keeps the state");
  if (before == BV_STATE_STREAMING) {
    requireResult(result, BV_MESSAGE_SCAN_WHILE_STREAMING, "Scan while streaming");
    return;
  }
  requireResult(result, nullptr, "Scan");
  inventoryRebuilt();
  expectApplied(config, configures);
}

void disconnect() {
  const std::int32_t before = state();
  const PluginResult result = bv_disconnect();
  if (before == BV_STATE_DISCONNECTED) {
    requireResult(result, BV_MESSAGE_NOT_CONNECTED, "disconnect twice");
    return;
  }
  requireResult(result, nullptr, "disconnect");
  if (before == BV_STATE_STREAMING) g_session->drainRequested = true;
  require(state() == BV_STATE_DISCONNECTED && kessra::inventory().empty(), "disconnected");
  fuzzdev::device().inventoryChannels = 0;
  g_session->counters.clear();
}

void start() {
  const std::int32_t before = state();
  const PluginResult result = bv_start_streaming();
  if (before == BV_STATE_STREAMING) {
    requireResult(result, BV_MESSAGE_ALREADY_STREAMING, "start twice");
  } else if (before == BV_STATE_DISCONNECTED) {
    requireResult(result, BV_MESSAGE_START_NOT_CONNECTED, "start unconnected");
  } else {
    requireResult(result, nullptr, "start");
    std::fill(g_session->counters.begin(), g_session->counters.end(), 0);
  }
  require(state() == (before == BV_STATE_CONNECTED ? BV_STATE_STREAMING : before), "start state");
}

void stop() {
  const std::int32_t before = state();
  const PluginResult result = bv_stop_streaming();
  if (before != BV_STATE_STREAMING) {
    requireResult(result, BV_MESSAGE_NOT_STREAMING, "stop unstarted");
    require(state() == before, "stop state");
    return;
  }
  requireResult(result, nullptr, "stop");
  g_session->drainRequested = true;
  require(state() == BV_STATE_CONNECTED, "stopped");
}

// Brings the plug-in back to Disconnected, nothing to drain, the trigger
// options all true and the cache naming nothing, so every input starts alike.
void resetPlugin() {
  fuzzdev::Device& device = fuzzdev::device();
  device.input = nullptr;
  device.framesPending = 0;
  bv_stop_streaming();
  bv_disconnect();
  bv_read_samples([](const char*, const char*, const SampleBlock*) {});
  static const char* kTrue = "true";
  Setting settings[3]{};
  for (Setting& setting : settings) setting.value.text = StringRef{kTrue, 4};
  Configuration allTrue{settings, 3, nullptr, 0};
  const Action& scanAction = *static_cast<const Action*>([] {
    ListRecord actions{};
    bv_get_actions(&actions);
    return actions.items;
  }());
  scanAction.handler(&allTrue);
  Configuration fresh{};
  bv_get_configuration(&fresh);
  bv_free_configuration(&fresh);
  device.inventoryChannels = 0;
  // Trees the last input lost go as the library's unload would take them,
  // so memory stays flat across inputs.
  kessra::hostBlocks().releaseAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  resetPlugin();
  FuzzedDataProvider in(data, size);
  Session session;
  // Host records with 0 to 4 settings; only one with three can be applied,
  // and so come back from the cache, but every one is handed over.
  for (std::size_t r = 0; r < 5; ++r) {
    HostRecord& host = session.hostRecords[r];
    host.settings.resize(r);
    host.record =
        Configuration{host.settings.empty() ? nullptr : host.settings.data(), r, nullptr, 0};
    if (!host.settings.empty()) session.trees.push_back(Tree{host.settings.data(), false, true});
  }
  g_session = &session;
  fuzzdev::device().input = &in;

  for (int call = 0; call < kMaxCalls && in.remaining_bytes() > 0; ++call) {
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
      case 0:
        identity(in);
        break;
      case 1:
        connect(in);
        break;
      case 2:
        disconnect();
        break;
      case 3:
        scan(in);
        break;
      case 4:
      case 5:
        getInto(in.ConsumeIntegralInRange<std::size_t>(0, kSlots - 1), in);
        break;
      case 6: {
        const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, kSlots + 4);
        if (pick < kSlots) {
          freeSlot(pick);
        } else {
          freeHostRecord(session.hostRecords[pick - kSlots]);
        }
        break;
      }
      case 7:
        start();
        break;
      case 8:
        stop();
        break;
      case 9:
        fuzzdev::device().framesPending += in.ConsumeIntegralInRange<std::uint32_t>(0, 6);
        break;
      case 10:
        read(in);
        break;
      default:
        changeValue(in.ConsumeIntegralInRange<std::size_t>(0, kSlots - 1), in);
        break;
    }
  }

  // The host frees every record it holds, whatever it names.
  fuzzdev::device().input = nullptr;
  for (std::size_t s = 0; s < kSlots; ++s) {
    freeSlot(s);
  }
  resetPlugin();
  g_session = nullptr;
  return 0;
}
