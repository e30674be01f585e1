// The configuration tree: what a build holds, how it is released, and how the
// cached copy behaves across builds, applies and releases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "config/configuration_build.h"
#include "failing_allocator.h"
#include "test_support.h"

namespace {

using support::expectFailure;
using support::expectSuccess;
using support::scriptDevice;
using support::textOf;
using ::testing::ElementsAre;

// Every text of a tree, in the order the release visits them.
std::vector<const StringRef*> textsOf(const Setting* settings, uint64_t count) {
  std::vector<const StringRef*> texts;
  for (uint64_t i = 0; i < count; ++i) {
    texts.push_back(&settings[i].name);
    texts.push_back(&settings[i].extraText);
    texts.push_back(&settings[i].value.text);
    texts.push_back(&settings[i].defaultValue.text);
  }
  return texts;
}

// Checks what a host relies on: no null text, each NUL-terminated at its
// length, and no two fields sharing one allocation.
void expectWellFormed(const Configuration& config) {
  std::set<const char*> seen;
  auto check = [&](const StringRef& text) {
    ASSERT_NE(text.data, nullptr);
    EXPECT_EQ(text.data[text.length], '\0');
    EXPECT_TRUE(seen.insert(text.data).second) << "shared text " << textOf(text);
  };
  ASSERT_NE(config.settings, nullptr);
  ASSERT_NE(config.components, nullptr);
  for (const StringRef* text : textsOf(config.settings, config.settingCount)) check(*text);
  for (uint64_t i = 0; i < config.componentCount; ++i) {
    const ComponentDescription& component = config.components[i];
    check(component.name);
    ASSERT_NE(component.channels, nullptr);
    for (uint64_t k = 0; k < component.channelCount; ++k) check(component.channels[k].name);
    for (const StringRef* text : textsOf(component.properties, component.propertyCount)) {
      check(*text);
    }
  }
}

TEST(ConfigurationBuild, FreshPluginDescribesTheThreeTriggerOptions) {
  Configuration config{};
  expectSuccess(bv_get_configuration(&config));
  expectWellFormed(config);
  ASSERT_EQ(config.settingCount, 3u);
  const char* names[] = {"Start Input Trigger", "Stop Input Trigger", "Output Triggers"};
  for (int i = 0; i < 3; ++i) {
    const Setting& setting = config.settings[i];
    EXPECT_EQ(textOf(setting.name), names[i]);
    EXPECT_FALSE(setting.readOnly);
    EXPECT_EQ(setting.value.kind, BV_VALUE_KIND_BOOLEAN);
    EXPECT_EQ(textOf(setting.value.text), "true");
    EXPECT_EQ(setting.defaultValue.kind, BV_VALUE_KIND_BOOLEAN);
    EXPECT_EQ(textOf(setting.defaultValue.text), "true");
    EXPECT_EQ(textOf(setting.extraText), "");
  }
  EXPECT_EQ(config.componentCount, 0u);
  expectSuccess(bv_free_configuration(&config));
  EXPECT_TRUE(fake::interop().calls.empty()) << "building touches no device";
}

TEST(ConfigurationBuild, DescribesEachSensorWithPropertiesAndChannelRates) {
  scriptDevice({2, 0});
  fake::interop().answer("S1", 8, "");
  fake::interop().answer("S1", 7, "");
  fake::interop().sampleRates = {2000.0, 1925.93};
  expectSuccess(bv_connect(nullptr));
  Configuration config{};
  expectSuccess(bv_get_configuration(&config));
  expectWellFormed(config);
  ASSERT_EQ(config.componentCount, 2u);

  const ComponentDescription& first = config.components[0];
  EXPECT_EQ(first.kind, 1);
  EXPECT_EQ(textOf(first.name), "Orvane Kessra Sensor 0 (mode 0)");
  ASSERT_EQ(first.propertyCount, 2u);
  EXPECT_EQ(textOf(first.properties[0].name), "SID");
  EXPECT_EQ(textOf(first.properties[0].value.text), "SN0");
  EXPECT_EQ(textOf(first.properties[1].name), "Battery Percentage");
  EXPECT_EQ(textOf(first.properties[1].value.text), "80%");
  for (const Property& property : {first.properties[0], first.properties[1]}) {
    EXPECT_TRUE(property.readOnly);
    EXPECT_EQ(property.value.kind, BV_VALUE_KIND_TEXT);
    EXPECT_EQ(property.defaultValue.kind, BV_VALUE_KIND_TEXT);
    EXPECT_EQ(textOf(property.defaultValue.text), "<unknown>");
  }
  ASSERT_EQ(first.channelCount, 2u);
  EXPECT_EQ(textOf(first.channels[1].name), "ch0.1");
  EXPECT_EQ(first.channels[1].kind, 1);
  EXPECT_EQ(first.channels[1].unit, 9);
  EXPECT_EQ(first.channels[0].rate, 2000.0f);
  EXPECT_EQ(first.channels[1].rate, 1925.9259033203125f);

  const ComponentDescription& second = config.components[1];
  EXPECT_EQ(second.channelCount, 0u);
  EXPECT_NE(second.channels, nullptr) << "an empty array is still an allocation";
  EXPECT_EQ(textOf(second.properties[0].value.text), "");
  EXPECT_EQ(textOf(second.properties[1].value.text), "%");
  bv_free_configuration(&config);
}

TEST(ConfigurationBuild, ChannelRateIsSamplesPerFrameOverTheFramePeriod) {
  EXPECT_EQ(kessra::channelRate(27), 2000.0f);
  EXPECT_EQ(kessra::channelRate(26), 1925.9259033203125f);
  EXPECT_EQ(kessra::channelRate(0), 0.0f);
}

TEST(ConfigurationBuild, NeverDescribesMoreComponentsThanTheInventoryHolds) {
  scriptDevice({1});
  fake::interop().sensorCount = 3;  // the list starts only one sensor
  fake::interop().channelsPerSensor = {1, 1, 1};
  expectSuccess(bv_connect(nullptr));
  Configuration config{};
  expectSuccess(bv_get_configuration(&config));
  EXPECT_EQ(config.componentCount, 1u);
  bv_free_configuration(&config);
  bv_disconnect();

  fake::interop().sensorCount = -1;
  expectSuccess(bv_connect(nullptr));
  expectSuccess(bv_get_configuration(&config));
  EXPECT_EQ(config.componentCount, 0u) << "a negative count is zero";
  bv_free_configuration(&config);
}

TEST(ConfigurationRelease, ReleasesTheTreeInItsFixedOrder) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  scriptDevice({4});
  expectSuccess(bv_connect(nullptr));
  Configuration config{};
  expectSuccess(bv_get_configuration(&config));
  ASSERT_EQ(config.componentCount, 1u);

  std::vector<const void*> expected;
  for (const StringRef* text : textsOf(config.settings, 3)) expected.push_back(text->data);
  expected.push_back(config.settings);
  const ComponentDescription& component = config.components[0];
  for (const StringRef* text : textsOf(component.properties, 2)) expected.push_back(text->data);
  expected.push_back(component.properties);
  for (uint64_t k = 0; k < 4; ++k) expected.push_back(component.channels[k].name.data);
  expected.push_back(component.channels);
  expected.push_back(component.name.data);
  expected.push_back(config.components);

  alloc::startLoggingReleases();
  expectSuccess(bv_free_configuration(&config));
  EXPECT_EQ(alloc::stopLoggingReleases(), expected);
  EXPECT_EQ(config.settings, nullptr);
  EXPECT_EQ(config.settingCount, 0u);
  EXPECT_EQ(config.components, nullptr);
  EXPECT_EQ(config.componentCount, 0u);

  alloc::startLoggingReleases();
  expectSuccess(bv_free_configuration(&config));
  EXPECT_TRUE(alloc::stopLoggingReleases().empty()) << "a second free releases nothing";
}

TEST(ConfigurationRelease, ToleratesNullRecordsAndNullPointers) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  expectSuccess(bv_free_configuration(nullptr));
  Configuration config{};
  expectSuccess(bv_get_configuration(&config));
  config.settings[1].name = StringRef{nullptr, 0};  // a host cleared one text itself
  const long live = alloc::liveAllocations();
  expectSuccess(bv_free_configuration(&config));
  // The text the record no longer names stays the plug-in's, until unload.
  EXPECT_EQ(alloc::liveAllocations(), live - 11 - 2);
  expectFailure(bv_get_configuration(nullptr), BV_MESSAGE_INVALID_ARGUMENT);
}

TEST(ConfigurationCache, FreshPluginCopiesBackItsInitialEmptyArrays) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  Configuration config{};
  config.settingCount = 3;
  expectSuccess(bv_get_configuration(&config));
  EXPECT_NE(config.settings, nullptr);
  EXPECT_EQ(config.settingCount, 0u);
  EXPECT_NE(config.components, nullptr);
  EXPECT_EQ(config.componentCount, 0u);
  const long live = alloc::liveAllocations();
  expectSuccess(bv_free_configuration(&config));
  EXPECT_EQ(alloc::liveAllocations(), live - 2);
}

TEST(ConfigurationCache, SecondRequestWithTheSameRecordCopiesBackWithoutAllocating) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  Configuration config{};
  expectSuccess(bv_get_configuration(&config));
  const Configuration first = config;
  const long made = alloc::allocationsMade();
  expectSuccess(bv_get_configuration(&config));
  EXPECT_EQ(alloc::allocationsMade(), made);
  EXPECT_EQ(config.settings, first.settings);
  EXPECT_EQ(config.components, first.components);
  EXPECT_EQ(config.settingCount, 3u);
  bv_free_configuration(&config);
}

// A host that frees its tree and asks again with a record that still says
// three settings must get a new tree, never the storage it just released.
TEST(ConfigurationCache, NeverHandsOutReleasedStorage) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  Configuration config{};
  expectSuccess(bv_get_configuration(&config));
  bv_free_configuration(&config);
  config.settingCount = 3;
  const long made = alloc::allocationsMade();
  expectSuccess(bv_get_configuration(&config));
  EXPECT_GT(alloc::allocationsMade(), made) << "a fresh build, not the released tree";
  ASSERT_EQ(config.settingCount, 3u);
  expectWellFormed(config);
  EXPECT_EQ(textOf(config.settings[0].name), "Start Input Trigger");
  expectSuccess(bv_free_configuration(&config));

  Configuration initial{};
  initial.settingCount = 3;
  expectSuccess(bv_get_configuration(&initial));  // the initial empty arrays
  bv_free_configuration(&initial);
  initial.settingCount = 3;
  expectSuccess(bv_get_configuration(&initial));
  EXPECT_EQ(initial.settingCount, 3u) << "a fresh build, not the released empty arrays";
  bv_free_configuration(&initial);
}

TEST(ConfigurationCache, AppliedRecordIsWhatTheNextCopyBackHandsOut) {
  support::ThreeSettings host("true", "false", "true");
  scriptDevice({1});
  expectSuccess(bv_connect(&host.config));
  Configuration config{};
  config.settingCount = 3;
  expectSuccess(bv_get_configuration(&config));
  EXPECT_EQ(config.settings, host.settings);
}

TEST(ConfigurationCache, ReleasingAnAppliedTreeEmptiesTheCache) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  Configuration tree{};
  expectSuccess(bv_get_configuration(&tree));
  expectSuccess(bv_connect(&tree));  // the cache now names the applied tree
  bv_free_configuration(&tree);
  Configuration next{};
  next.settingCount = 3;
  const long made = alloc::allocationsMade();
  expectSuccess(bv_get_configuration(&next));
  EXPECT_GT(alloc::allocationsMade(), made) << "a fresh build, not the released tree";
  expectWellFormed(next);
  bv_free_configuration(&next);
}

TEST(ConfigurationAlloc, FailureLeavesRecordAndCacheUntouchedAndLeaksNothing) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  scriptDevice({3, 2});
  expectSuccess(bv_connect(nullptr));
  Configuration probe{};
  const long before = alloc::allocationsMade();
  expectSuccess(bv_get_configuration(&probe));
  const long allocations = alloc::allocationsMade() - before;
  bv_free_configuration(&probe);
  Configuration cached{};
  expectSuccess(bv_get_configuration(&cached));
  for (long n = 0; n < allocations; ++n) {
    Configuration config{};  // count 0: always a fresh build
    const long live = alloc::liveAllocations();
    alloc::failAllocation(n);
    const PluginResult result = bv_get_configuration(&config);
    alloc::failAllocation(-1);
    expectFailure(result, BV_MESSAGE_OUT_OF_MEMORY);
    EXPECT_EQ(config.settings, nullptr) << n;
    EXPECT_EQ(alloc::liveAllocations(), live) << "leak after failing allocation " << n;
    Configuration copy{};
    copy.settingCount = 3;
    bv_get_configuration(&copy);
    EXPECT_EQ(copy.settings, cached.settings) << "the cache moved at allocation " << n;
  }
  bv_free_configuration(&cached);
}

}  // namespace

namespace {

using support::ThreeSettings;

// A host that connected with (or scanned with) its own record: the action
// table's Scan handler, or bv_connect.
PluginResult applyThrough(bool scan, Configuration* config) {
  if (!scan) {
    return bv_connect(config);
  }
  ListRecord actions{};
  bv_get_actions(&actions);
  return static_cast<const Action*>(actions.items)[0].handler(config);
}

// Copy-back can give a second record the tree a first one holds; freeing
// both, in either order, releases that tree once and nothing twice.
TEST(ConfigurationRelease, TwoRecordsSharingATreeReleaseItOnce) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  scriptDevice({2});
  expectSuccess(bv_connect(nullptr));
  const long live = alloc::liveAllocations();
  Configuration a{};
  Configuration b{};
  expectSuccess(bv_get_configuration(&a));
  const long oneTree = alloc::liveAllocations() - live;
  expectSuccess(bv_get_configuration(&b));
  expectSuccess(bv_get_configuration(&a));  // a now names b's tree
  ASSERT_EQ(a.settings, b.settings);
  expectSuccess(bv_free_configuration(&a));
  EXPECT_EQ(a.settings, nullptr);
  expectSuccess(bv_free_configuration(&b));
  EXPECT_EQ(b.settings, nullptr);
  expectSuccess(bv_free_configuration(&b));
  // a's first tree no host can name any more: the plug-in keeps it until
  // it unloads, and released nothing else twice.
  EXPECT_EQ(alloc::liveAllocations(), live + oneTree);
  bv_disconnect();
}

// A host's own record, its arrays on its stack, applied by connect or by
// Scan, then copied back and freed: nothing of the host's is released or
// written but the record's own fields.
TEST(ConfigurationRelease, AHostsOwnRecordIsNeverReleased) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  for (const bool scan : {false, true}) {
    SCOPED_TRACE(scan ? "Scan" : "bv_connect");
    scriptDevice({1});
    if (scan) {
      expectSuccess(bv_connect(nullptr));
    }
    ThreeSettings host("true", "false", "true");
    const std::vector<unsigned char> before(
        reinterpret_cast<const unsigned char*>(host.settings),
        reinterpret_cast<const unsigned char*>(host.settings + 3));
    expectSuccess(applyThrough(scan, &host.config));
    Configuration record = host.config;
    expectSuccess(bv_get_configuration(&record));
    ASSERT_EQ(record.settings, host.settings);
    const long live = alloc::liveAllocations();
    alloc::startLoggingReleases();
    expectSuccess(bv_free_configuration(&record));
    EXPECT_TRUE(alloc::stopLoggingReleases().empty());
    EXPECT_EQ(alloc::liveAllocations(), live);
    EXPECT_EQ(record.settings, nullptr);
    EXPECT_EQ(record.settingCount, 0u);
    const std::vector<unsigned char> after(
        reinterpret_cast<const unsigned char*>(host.settings),
        reinterpret_cast<const unsigned char*>(host.settings + 3));
    EXPECT_EQ(before, after);
    expectSuccess(bv_free_configuration(&host.config));
    EXPECT_EQ(before, std::vector<unsigned char>(
                          reinterpret_cast<const unsigned char*>(host.settings),
                          reinterpret_cast<const unsigned char*>(host.settings + 3)));
    bv_disconnect();
  }
}

// A host that changes a setting by pointing its value at a text of its own,
// applies the tree (by connect or Scan) and frees it: the plug-in releases
// its own blocks, leaves the host's text alone, and keeps the text it no
// longer finds in the tree until it unloads.
TEST(ConfigurationRelease, AHostsTextInAPluginTreeIsLeftAlone) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  for (const bool scan : {false, true}) {
    SCOPED_TRACE(scan ? "Scan" : "bv_connect");
    scriptDevice({1});
    Configuration tree{};
    expectSuccess(bv_get_configuration(&tree));
    char hostText[] = "false";
    const char* replaced = tree.settings[0].value.text.data;
    tree.settings[0].value.text = StringRef{hostText, 5};
    if (scan) {
      expectSuccess(bv_connect(nullptr));
    }
    expectSuccess(applyThrough(scan, &tree));
    const long live = alloc::liveAllocations();
    alloc::startLoggingReleases();
    expectSuccess(bv_free_configuration(&tree));
    const long afterFree = alloc::liveAllocations();
    const std::vector<const void*> released = alloc::stopLoggingReleases();
    EXPECT_THAT(released, ::testing::Not(::testing::Contains(static_cast<const void*>(hostText))));
    EXPECT_THAT(released, ::testing::Not(::testing::Contains(static_cast<const void*>(replaced))));
    EXPECT_EQ(afterFree, live - static_cast<long>(released.size()));
    EXPECT_STREQ(hostText, "false");
    EXPECT_EQ(tree.settings, nullptr);
    bv_disconnect();
  }
}

}  // namespace
