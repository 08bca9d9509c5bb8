#include "tovik/providers/nmea_replay_provider.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>

#include "tovik/runloop/main_queue.h"

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

// Runs the replay to its end, or to its first error, and returns what a listener heard.
std::shared_ptr<Recorder> replay(NmeaReplayProvider& provider) {
  auto recorder = std::make_shared<Recorder>();
  provider.addListener(recorder);
  EXPECT_TRUE(queue().runUntil([&] { return provider.reachedEnd() || !recorder->errors.empty(); }, 30s));
  queue().runFor(20ms);  // nothing more arrives
  provider.removeListener(recorder.get());
  return recorder;
}

TEST(NmeaReplayProviderTest, ReplaysTheBeijingWalkInOrder) {
  // As fast as possible, and paced at a thousand times real time.
  for (const double speed : {0.0, std::numeric_limits<double>::infinity(), 1000.0}) {
    SCOPED_TRACE(speed);
    NmeaReplayProvider provider(dataFile("beijing_walk.nmea"), speed);
    EXPECT_EQ(provider.authorizationStatus(), AuthorizationStatus::authorizedAlways);
    const auto recorder = replay(provider);
    EXPECT_TRUE(recorder->errors.empty());
    EXPECT_EQ(provider.skippedLines(), 0u);
    ASSERT_EQ(recorder->fixes.size(), 60u);
    const auto& fixes = recorder->fixes;
    // The first epoch: height above the ellipsoid, accuracies from the DOPs, speed from knots.
    EXPECT_NEAR(fixes[0].coordinate.latitude, 39.9087, 1e-9);
    EXPECT_NEAR(fixes[0].coordinate.longitude, 116.3975, 1e-9);
    EXPECT_NEAR(fixes[0].altitude, 44.3 - 9.0, 1e-9);
    EXPECT_NEAR(fixes[0].horizontalAccuracy, 0.8 * 5.0, 1e-9);
    EXPECT_NEAR(fixes[0].verticalAccuracy, 1.2 * 5.0, 1e-9);
    EXPECT_NEAR(fixes[0].speed, 2.72 * 0.514444, 1e-9);
    EXPECT_EQ(fixes[0].course, 90.0);
    EXPECT_EQ(std::chrono::system_clock::to_time_t(fixes[0].timestamp), 1714528800);  // 2024-05-01T02:00:00Z
    for (std::size_t i = 1; i < fixes.size(); ++i) EXPECT_EQ(fixes[i].timestamp - fixes[i - 1].timestamp, 1s) << i;
    // The walk goes east, then south, then west.
    EXPECT_GT(fixes[19].coordinate.longitude, fixes[0].coordinate.longitude);
    EXPECT_LT(fixes[39].coordinate.latitude, fixes[20].coordinate.latitude);
    EXPECT_LT(fixes[59].coordinate.longitude, fixes[40].coordinate.longitude);
  }
}

TEST(NmeaReplayProviderTest, SkipsAndCountsBadLines) {
  NmeaReplayProvider provider(dataFile("bad_lines.nmea"), 0.0);
  const auto recorder = replay(provider);
  EXPECT_TRUE(recorder->errors.empty());
  // Bad checksum, truncated, GSV, text, absurd latitude, overlong; the blank line is not counted.
  EXPECT_EQ(provider.skippedLines(), 6u);
  ASSERT_EQ(recorder->fixes.size(), 3u);  // the epoch without a fix gives none
  const auto& fixes = recorder->fixes;
  EXPECT_EQ(fixes[1].timestamp - fixes[0].timestamp, 1s);
  EXPECT_EQ(fixes[2].timestamp - fixes[0].timestamp, 3s);
  // Its second epoch has no geoid separation, no course and no GSA.
  EXPECT_EQ(std::tuple(fixes[1].altitude, fixes[1].course, fixes[1].verticalAccuracy), std::tuple(44.0, -1.0, -1.0));
}

// In Chinese like every other location error, naming the file and the reason.
TEST(NmeaReplayProviderTest, ReportsAnUnreadableFileOnceByPathAndReason) {
  const std::string missing = dataFile("no_such_log.nmea"), folder = TOVIK_TEST_DATA_DIR;
  for (const auto& [path, text] : {std::pair{missing, "无法打开 NMEA 记录文件“" + missing + "”：文件或目录不存在"},
                                   std::pair{folder, "无法读取 NMEA 记录文件“" + folder + "”：是目录，不是文件"}}) {
    NmeaReplayProvider provider(path, 0.0);
    const auto recorder = replay(provider);
    ASSERT_EQ(recorder->errors.size(), 1u) << path;
    EXPECT_EQ(recorder->errors[0].localizedDescription(), text);
    EXPECT_TRUE(recorder->fixes.empty());
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
