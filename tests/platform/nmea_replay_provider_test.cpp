#include "tovik/platform/nmea_replay_provider.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tovik/platform/main_queue.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;

MainQueue& queue() { return MainQueue::shared(); }

std::string dataFile(const std::string& name) { return std::string(TOVIK_TEST_DATA_DIR) + "/" + name; }

class Recorder : public LocationProviderListener {
 public:
  void providerDidUpdateLocation(const Location& location) override { fixes.push_back(location); }
  void providerDidFail(const Error& error) override { errors.push_back(error); }
  std::vector<Location> fixes;
  std::vector<Error> errors;
};

TEST(NmeaReplayProviderTest, ReplaysTheBeijingWalkInOrder) {
  // As fast as possible, and paced at a thousand times real time.
  for (const double speed : {0.0, std::numeric_limits<double>::infinity(), 1000.0}) {
    NmeaReplayProvider provider(dataFile("beijing_walk.nmea"), speed);
    EXPECT_EQ(provider.authorizationStatus(), AuthorizationStatus::authorizedAlways);
    auto recorder = std::make_shared<Recorder>();
    provider.addListener(recorder);
    ASSERT_TRUE(queue().runUntil([&] { return provider.reachedEnd(); }, 30s)) << speed;
    EXPECT_TRUE(recorder->errors.empty());
    EXPECT_EQ(provider.skippedLines(), 0u);
    ASSERT_EQ(recorder->fixes.size(), 60u) << speed;
    const Location& first = recorder->fixes.front();
    EXPECT_NEAR(first.coordinate.latitude, 39.9087, 1e-6);
    EXPECT_NEAR(first.coordinate.longitude, 116.3975, 1e-6);
    EXPECT_NEAR(first.speed, 1.4, 0.01);
    EXPECT_GT(first.horizontalAccuracy, 0.0);
    EXPECT_GT(first.verticalAccuracy, 0.0);
    for (std::size_t i = 1; i < recorder->fixes.size(); ++i) {
      EXPECT_EQ(recorder->fixes[i].timestamp - recorder->fixes[i - 1].timestamp, 1s) << i;
    }
    // The walk goes east, then south, then west.
    EXPECT_GT(recorder->fixes[19].coordinate.longitude, first.coordinate.longitude);
    EXPECT_LT(recorder->fixes[39].coordinate.latitude, recorder->fixes[20].coordinate.latitude);
    EXPECT_LT(recorder->fixes[59].coordinate.longitude, recorder->fixes[40].coordinate.longitude);
    provider.removeListener(recorder.get());
  }
}

TEST(NmeaReplayProviderTest, SkipsAndCountsBadLines) {
  NmeaReplayProvider provider(dataFile("bad_lines.nmea"), 0.0);
  auto recorder = std::make_shared<Recorder>();
  provider.addListener(recorder);
  ASSERT_TRUE(queue().runUntil([&] { return provider.reachedEnd(); }, 30s));
  EXPECT_TRUE(recorder->errors.empty());
  // Bad checksum, truncated, GSV, text, absurd latitude, overlong; the blank line is not counted.
  EXPECT_EQ(provider.skippedLines(), 6u);
  ASSERT_EQ(recorder->fixes.size(), 3u);  // the epoch without a fix gives none
  const auto secondsOf = [&](std::size_t i) { return std::chrono::system_clock::to_time_t(recorder->fixes[i].timestamp) % 60; };
  EXPECT_EQ(secondsOf(0), 0);
  EXPECT_EQ(secondsOf(1), 1);
  EXPECT_EQ(secondsOf(2), 3);
  EXPECT_EQ(recorder->fixes[1].course, -1.0);
  EXPECT_EQ(recorder->fixes[1].verticalAccuracy, -1.0);
  provider.removeListener(recorder.get());
}

TEST(NmeaReplayProviderTest, ReportsAnUnreadableFileByPathAndReason) {
  struct Case {
    std::string path;
    std::string reason;
  };
  for (const Case& c : {Case{dataFile("no_such_log.nmea"), "No such file or directory"},
                        Case{std::string(TOVIK_TEST_DATA_DIR), "Is a directory"}}) {
    NmeaReplayProvider provider(c.path, 0.0);
    auto recorder = std::make_shared<Recorder>();
    provider.addListener(recorder);
    ASSERT_TRUE(queue().runUntil([&] { return !recorder->errors.empty(); }, 10s)) << c.path;
    const std::string text = recorder->errors[0].localizedDescription();
    EXPECT_NE(text.find(c.path), std::string::npos) << text;
    EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    queue().runFor(20ms);
    EXPECT_EQ(recorder->errors.size(), 1u);
    EXPECT_TRUE(recorder->fixes.empty());
    provider.removeListener(recorder.get());
  }
}

TEST(NmeaReplayProviderTest, StopsAtOnceAndRestartsFromTheBeginning) {
  // Real time: the whole log would take a minute, so a hang in stop would show.
  auto provider = std::make_shared<NmeaReplayProvider>(dataFile("beijing_walk.nmea"), 1.0);
  auto recorder = std::make_shared<Recorder>();
  provider->addListener(recorder);
  ASSERT_TRUE(queue().runUntil([&] { return !recorder->fixes.empty(); }, 10s));
  provider->removeListener(recorder.get());
  const auto delivered = recorder->fixes.size();
  queue().runFor(30ms);
  EXPECT_EQ(recorder->fixes.size(), delivered);

  provider->addListener(recorder);
  ASSERT_TRUE(queue().runUntil([&] { return recorder->fixes.size() > delivered; }, 10s));
  EXPECT_EQ(recorder->fixes[delivered].timestamp, recorder->fixes[0].timestamp);
  provider.reset();  // destroyed while replaying: joins its reader
  queue().runFor(20ms);
}

}  // namespace
}  // namespace tovik
