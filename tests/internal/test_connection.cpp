// Connect, disconnect, the action table and Scan, with the trigger options
// they apply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/device_context.h"
#include "failing_allocator.h"
#include "inventory/inventory.h"
#include "test_support.h"

namespace {

using support::currentState;
using support::expectFailure;
using support::expectSuccess;
using support::scriptDevice;
using support::settingValues;
using support::textOf;
using support::ThreeSettings;
using ::testing::ElementsAre;

const Action& scanAction() {
  ListRecord actions{};
  bv_get_actions(&actions);
  return static_cast<const Action*>(actions.items)[0];
}

TEST(Actions, ListTheOneScanAction) {
  ListRecord actions{};
  expectSuccess(bv_get_actions(&actions));
  ASSERT_EQ(actions.count, 1u);
  const Action& scan = *static_cast<const Action*>(actions.items);
  EXPECT_EQ(textOf(scan.name), "Scan");
  EXPECT_EQ(scan.name.length, 4u);
  EXPECT_NE(scan.handler, nullptr);
  EXPECT_EQ(scan.reserved, nullptr);
  expectFailure(bv_get_actions(nullptr), BV_MESSAGE_INVALID_ARGUMENT);
}

TEST(Connect, OpensTheDeviceBuildsTheInventoryAndAppliesNothingWithoutSettings) {
  scriptDevice({2, 1});
  expectSuccess(bv_connect(nullptr));
  EXPECT_EQ(currentState(), BV_STATE_CONNECTED);
  EXPECT_EQ(fake::interop().calls.front(), "initialize(2,0,1)");
  EXPECT_TRUE(fake::interop().callsStartingWith("configure").empty());
  ASSERT_EQ(kessra::inventory().size(), 2u);
  EXPECT_EQ(kessra::inventory()[0].channels.size(), 2u);
}

TEST(Connect, SecondConnectIsRefusedAndTouchesNothing) {
  scriptDevice({1});
  expectSuccess(bv_connect(nullptr));
  const auto callsBefore = fake::interop().calls;
  kessra::inventory()[0].channels[0].samplesDelivered = 7;
  expectFailure(bv_connect(nullptr), BV_MESSAGE_ALREADY_CONNECTED);
  EXPECT_EQ(fake::interop().calls, callsBefore);
  EXPECT_EQ(kessra::inventory()[0].channels[0].samplesDelivered, 7u);
  EXPECT_EQ(currentState(), BV_STATE_CONNECTED);
}

TEST(Connect, NullChannelListGivesAnEmptyInventory) {
  fake::interop().channelList = std::nullopt;
  expectSuccess(bv_connect(nullptr));
  EXPECT_TRUE(kessra::inventory().empty());
}

TEST(Connect, AppliesTheTriggerOptionsOfAThreeSettingRecord) {
  scriptDevice({1});
  ThreeSettings host("true", "false", "true");
  expectSuccess(bv_connect(&host.config));
  EXPECT_THAT(fake::interop().callsStartingWith("configure"), ElementsAre("configure(1,1,0,1)"));
  EXPECT_THAT(settingValues(), ElementsAre("true", "false", "true"));
}

TEST(Connect, OnlyTheExactTextTrueSwitchesAnOptionOn) {
  ThreeSettings host("True", "true ", "1");
  expectSuccess(bv_connect(&host.config));
  bv_disconnect();
  ThreeSettings nulls(nullptr, "", "true");
  expectSuccess(bv_connect(&nulls.config));
  EXPECT_THAT(fake::interop().callsStartingWith("configure"),
              ElementsAre("configure(1,0,0,0)", "configure(1,0,0,1)"));
}

TEST(Connect, RecordsWithTwoOrFourSettingsApplyNothing) {
  ThreeSettings off("false", "false", "false");
  expectSuccess(bv_connect(&off.config));
  bv_disconnect();
  for (uint64_t count : {2u, 4u}) {
    Setting settings[4] = {};
    for (Setting& setting : settings) setting.value.text = StringRef{"true", 4};
    Configuration config{settings, count, nullptr, 0};
    expectSuccess(bv_connect(&config));
    bv_disconnect();
  }
  EXPECT_EQ(fake::interop().callsStartingWith("configure").size(), 1u);
  Configuration copy{};
  copy.settingCount = 3;
  bv_get_configuration(&copy);
  EXPECT_EQ(copy.settings, off.settings) << "the cache still names the applied record";
  EXPECT_THAT(settingValues(), ElementsAre("false", "false", "false"));
}

TEST(Connect, OptionsSurviveDisconnectAndReconnect) {
  ThreeSettings host("false", "true", "false");
  expectSuccess(bv_connect(&host.config));
  expectSuccess(bv_disconnect());
  expectSuccess(bv_connect(nullptr));
  EXPECT_THAT(settingValues(), ElementsAre("false", "true", "false"));
  expectSuccess(bv_disconnect());
  ThreeSettings next("true", "true", "false");
  expectSuccess(bv_connect(&next.config));
  EXPECT_THAT(settingValues(), ElementsAre("true", "true", "false"));
}

TEST(Connect, OutOfMemoryLeavesThePluginDisconnectedAndUsable) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  scriptDevice({3, 2});
  const long before = alloc::allocationsMade();
  expectSuccess(bv_connect(nullptr));
  const long allocations = alloc::allocationsMade() - before;
  expectSuccess(bv_disconnect());
  for (long n = 0; n < allocations; ++n) {
    const long live = alloc::liveAllocations();
    fake::interop().calls.clear();
    alloc::failAllocation(n);
    const PluginResult result = bv_connect(nullptr);
    alloc::failAllocation(-1);
    if (result.code == 0) {  // the failure hit an allocation that may fail, e.g. a shrink
      EXPECT_EQ(kessra::inventory().size(), 2u);
      expectSuccess(bv_disconnect());
      continue;
    }
    expectFailure(result, BV_MESSAGE_OUT_OF_MEMORY);
    EXPECT_EQ(currentState(), BV_STATE_DISCONNECTED) << n;
    EXPECT_EQ(fake::interop().calls.back(), "close") << "the opened device is closed again";
    EXPECT_EQ(kessra::deviceContext().metadata.sensorCount, 0);
    EXPECT_TRUE(kessra::inventory().empty());
    EXPECT_EQ(alloc::liveAllocations(), live) << "leak after failing allocation " << n;
  }
  expectSuccess(bv_connect(nullptr));
  EXPECT_EQ(kessra::inventory().size(), 2u);
}

TEST(Disconnect, ClosesTheDeviceAndForgetsTheSensors) {
  expectFailure(bv_disconnect(), BV_MESSAGE_NOT_CONNECTED);
  EXPECT_TRUE(fake::interop().calls.empty());
  scriptDevice({2});
  expectSuccess(bv_connect(nullptr));
  expectSuccess(bv_disconnect());
  EXPECT_EQ(fake::interop().calls.back(), "close");
  EXPECT_EQ(currentState(), BV_STATE_DISCONNECTED);
  EXPECT_TRUE(kessra::inventory().empty());
  const OrvaneMetadataBuf& metadata = kessra::deviceContext().metadata;
  EXPECT_EQ(metadata.sensorCount, 0);
  EXPECT_EQ(metadata.channelsPerSensor, nullptr);
  EXPECT_EQ(metadata.sampleRates, nullptr);
}

TEST(Scan, WhileDisconnectedRereadsWithoutOpeningAndKeepsTheState) {
  scriptDevice({1, 1});
  expectSuccess(scanAction().handler(nullptr));
  EXPECT_EQ(fake::interop().calls.front(), "scan");
  EXPECT_EQ(fake::interop().countCalls("initialize(2,0,1)"), 0u);
  EXPECT_EQ(currentState(), BV_STATE_DISCONNECTED);
  EXPECT_EQ(kessra::inventory().size(), 2u);
}

TEST(Scan, WhileConnectedReplacesTheInventoryAndAppliesTheRecord) {
  scriptDevice({1});
  expectSuccess(bv_connect(nullptr));
  kessra::inventory()[0].channels[0].samplesDelivered = 5;
  scriptDevice({2, 3});
  ThreeSettings host("true", "true", "false");
  expectSuccess(scanAction().handler(&host.config));
  EXPECT_EQ(currentState(), BV_STATE_CONNECTED);
  ASSERT_EQ(kessra::inventory().size(), 2u);
  EXPECT_EQ(kessra::inventory()[0].channels[0].samplesDelivered, 0u);
  EXPECT_THAT(fake::interop().callsStartingWith("configure"), ElementsAre("configure(1,1,1,0)"));
}

TEST(Scan, AppliesOnlyARecordWithExactlyThreeSettings) {
  scriptDevice({1});
  Setting settings[4] = {};
  for (Setting& setting : settings) setting.value.text = StringRef{"false", 5};
  for (uint64_t count : {0u, 2u, 4u}) {
    Configuration config{settings, count, nullptr, 0};
    expectSuccess(scanAction().handler(&config));
  }
  expectSuccess(scanAction().handler(nullptr));
  EXPECT_EQ(fake::interop().countCalls("scan"), 4u);
  EXPECT_TRUE(fake::interop().callsStartingWith("configure").empty());
  EXPECT_THAT(settingValues(), ElementsAre("true", "true", "true"));
}

TEST(Scan, OutOfMemoryKeepsThePreviousInventoryAndLeaksNothing) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  scriptDevice({1});
  expectSuccess(bv_connect(nullptr));
  scriptDevice({2, 2});
  const long before = alloc::allocationsMade();
  expectSuccess(scanAction().handler(nullptr));
  const long allocations = alloc::allocationsMade() - before;
  scriptDevice({1});
  expectSuccess(scanAction().handler(nullptr));
  scriptDevice({2, 2});
  for (long n = 0; n < allocations; ++n) {
    const long live = alloc::liveAllocations();
    alloc::failAllocation(n);
    const PluginResult result = scanAction().handler(nullptr);
    alloc::failAllocation(-1);
    if (result.code == 0) {  // only a shrink, which may fail harmlessly, was hit
      scriptDevice({1});
      expectSuccess(scanAction().handler(nullptr));
      scriptDevice({2, 2});
      continue;
    }
    expectFailure(result, BV_MESSAGE_OUT_OF_MEMORY);
    EXPECT_EQ(kessra::inventory().size(), 1u) << n;
    EXPECT_EQ(kessra::deviceContext().metadata.sensorCount, 1) << n;
    EXPECT_EQ(alloc::liveAllocations(), live) << "leak after failing allocation " << n;
    EXPECT_EQ(currentState(), BV_STATE_CONNECTED);
  }
}

}  // namespace
