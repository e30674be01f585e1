// Building the inventory from what the fake interop lists and describes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "device/device_context.h"
#include "fake_interop.h"
#include "inventory/inventory.h"

namespace {

using kessra::inventory;
using ::testing::ElementsAre;

class InventoryBuild : public ::testing::Test {
 protected:
  // Fills the metadata the way a connect does and builds from the list.
  void build(const std::string& channelList) {
    fake::Interop& fake = fake::interop();
    OrvaneMetadataBuf& metadata = kessra::deviceContext().metadata;
    metadata = OrvaneMetadataBuf{};
    metadata.sensorCount = fake.sensorCount;
    metadata.channelsPerSensor = fake.channelsPerSensor.data();
    metadata.sampleRates = fake.sampleRates.data();
    fake.calls.clear();
    kessra::buildInventory(channelList);
  }

  void describe(std::int32_t sensors, std::vector<std::int32_t> channels,
                std::vector<double> rates) {
    fake::interop().sensorCount = sensors;
    fake::interop().channelsPerSensor = std::move(channels);
    fake::interop().sampleRates = std::move(rates);
  }

  std::vector<std::string> channelNames() const {
    std::vector<std::string> names;
    for (const auto& component : inventory()) {
      for (const auto& channel : component.channels) {
        names.push_back(channel.name);
      }
    }
    return names;
  }
};

TEST_F(InventoryBuild, QueriesEachIdentifierThenEachNewSensorKeyInOrder) {
  describe(2, {2, 1}, {1000, 1000, 1000});
  build("K1+a|K1+b|K2+c|");
  EXPECT_THAT(fake::interop().calls,
              ElementsAre("info(K1+a,0)", "info(K1+a,2)", "info(K1,0)", "info(K1,9)", "info(K1,7)",
                          "info(K1,8)", "info(K1+b,0)", "info(K1+b,2)", "info(K2+c,0)",
                          "info(K2+c,2)", "info(K2,0)", "info(K2,9)", "info(K2,7)", "info(K2,8)"));
}

TEST_F(InventoryBuild, ComposesComponentsFromTheSensorAnswers) {
  fake::Interop& fake = fake::interop();
  fake.answer("K1", 0, "Left biceps");
  fake.answer("K1", 9, "EMG 1926 Hz");
  fake.answer("K1", 7, "SN-17");
  fake.answer("K1", 8, "87");
  fake.answer("K1+emg", 0, "EMG");
  fake.answer("K1+emg", 2, "MILLIVOLTS");
  fake.answer("K2", 0, "S");
  fake.answer("K2", 9, "");
  describe(2, {1, 0}, {1925.93});
  build("K1+emg|K2|");

  ASSERT_EQ(inventory().size(), 2u);
  const auto& first = inventory()[0];
  EXPECT_EQ(first.name, "Orvane Kessra Left biceps (EMG 1926 Hz)");
  EXPECT_EQ(first.sid, "SN-17");
  EXPECT_EQ(first.battery, "87");
  ASSERT_EQ(first.channels.size(), 1u);
  EXPECT_EQ(first.channels[0].name, "EMG");
  EXPECT_EQ(first.channels[0].unit, 9);
  EXPECT_EQ(first.channels[0].samplesPerFrame, 26u);
  EXPECT_EQ(first.channels[0].samplesDelivered, 0u);
  EXPECT_EQ(inventory()[1].name, "Orvane Kessra S ()");
  EXPECT_TRUE(inventory()[1].channels.empty()) << "a sensor with no channels is still a component";
}

TEST_F(InventoryBuild, SplitsAtEverySeparatorAndIgnoresTheUnterminatedTail) {
  describe(0, {}, {});
  build("A|B");
  EXPECT_THAT(fake::interop().callsStartingWith("info(B"), ElementsAre());

  build("x||y|");
  EXPECT_THAT(
      fake::interop().callsStartingWith("info("),
      ElementsAre("info(x,0)", "info(x,2)", "info(x,0)", "info(x,9)", "info(x,7)", "info(x,8)",
                  "info(,0)", "info(,2)", "info(,0)", "info(,9)", "info(,7)", "info(,8)",
                  "info(y,0)", "info(y,2)", "info(y,0)", "info(y,9)", "info(y,7)", "info(y,8)"));

  build("");
  EXPECT_TRUE(fake::interop().calls.empty());
  EXPECT_TRUE(inventory().empty());
}

TEST_F(InventoryBuild, NewSensorOnlyWhereTheKeyChanges) {
  // The empty first identifier has the same (empty) key as the start, so it
  // starts no sensor; a key that returns after another starts a second one.
  describe(0, {}, {});
  build("|K1+a|K1|K2+b|K1+c|+d|");
  const auto keyQueries = fake::interop().callsStartingWith("info(");
  std::vector<std::string> sensorStarts;
  for (const auto& call : keyQueries) {
    if (call.ends_with(",9)")) {
      sensorStarts.push_back(call);
    }
  }
  EXPECT_THAT(sensorStarts, ElementsAre("info(K1,9)", "info(K2,9)", "info(K1,9)", "info(,9)"));
}

TEST_F(InventoryBuild, GroupsByChannelsPerSensorNotByKeys) {
  fake::interop().defaultAnswer = std::nullopt;  // a null answer reads as empty text
  for (const char* id : {"A+1", "A+2", "B+1", "B+2"}) {
    fake::interop().answer(id, 0, id);
  }
  describe(2, {3, 1}, {100, 200, 300, 400});
  build("A+1|A+2|B+1|B+2|");
  ASSERT_EQ(inventory().size(), 2u);
  ASSERT_EQ(inventory()[0].channels.size(), 3u);
  EXPECT_EQ(inventory()[0].channels[2].name, "B+1");
  ASSERT_EQ(inventory()[1].channels.size(), 1u);
  EXPECT_EQ(inventory()[1].channels[0].name, "B+2");
  EXPECT_EQ(inventory()[0].sid, "");
  EXPECT_EQ(inventory()[0].name, "Orvane Kessra  ()");
}

TEST_F(InventoryBuild, NeverBuildsMoreThanTheListCovers) {
  describe(5, {2, 4, 1, 1, 1}, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  build("A+1|A+2|B+1|");
  ASSERT_EQ(inventory().size(), 2u) << "two sensor starts listed";
  EXPECT_EQ(inventory()[0].channels.size(), 2u);
  EXPECT_EQ(inventory()[1].channels.size(), 1u) << "one identifier left for B";

  describe(-3, {}, {});
  build("A+1|");
  EXPECT_TRUE(inventory().empty());

  describe(1, {-2}, {});
  build("A+1|");
  ASSERT_EQ(inventory().size(), 1u);
  EXPECT_TRUE(inventory()[0].channels.empty());
}

TEST_F(InventoryBuild, EachBuildReplacesTheWholeInventory) {
  describe(1, {1}, {1000});
  build("A+1|");
  inventory()[0].channels[0].samplesDelivered = 42;
  build("A+1|");
  EXPECT_EQ(inventory()[0].channels[0].samplesDelivered, 0u);
  kessra::clearInventory();
  EXPECT_TRUE(inventory().empty());
  EXPECT_EQ(inventory().capacity(), 0u);
}

TEST(SamplesPerFrame, RoundsHalfAwayFromZero) {
  using kessra::samplesPerFrameFromRate;
  EXPECT_EQ(samplesPerFrameFromRate(1000), 14u) << "13.5 rounds up";
  EXPECT_EQ(samplesPerFrameFromRate(2000), 27u);
  EXPECT_EQ(samplesPerFrameFromRate(1925.9259), 26u);
  EXPECT_EQ(samplesPerFrameFromRate(148.148), 2u);
  EXPECT_EQ(samplesPerFrameFromRate(0), 0u);
}

TEST(SamplesPerFrame, HasNoUndefinedConversions) {
  using kessra::samplesPerFrameFromRate;
  constexpr double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(samplesPerFrameFromRate(-1000), 0u);
  EXPECT_EQ(samplesPerFrameFromRate(-inf), 0u);
  EXPECT_EQ(samplesPerFrameFromRate(std::nan("")), 0u);
  EXPECT_EQ(samplesPerFrameFromRate(inf), 0u);
  EXPECT_EQ(samplesPerFrameFromRate(1e300), std::numeric_limits<std::uint64_t>::max());
}

}  // namespace
