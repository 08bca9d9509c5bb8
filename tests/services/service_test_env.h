#pragma once

// A facade with consent and key "AK", pointed at a real loopback server, in a controlled
// world: scripted location provider, known device, clean keys, logging off unless a test
// captures the log.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/kit_world.h"
#include "support/log_capture.h"
#include "support/ready_facade.h"
#include "support/recording_delegate.h"
#include "support/test_server.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/model/location_res.h"
#include "tovik/system/device.h"
#include "tovik/runloop/main_queue.h"

namespace tovik::test {

inline constexpr const char* kVendorId = "0A1B2C3D-4E5F-4061-8283-949596979899";

/// The recorders of these tests mark each callback in the log.
template <class T = Recorder>
std::shared_ptr<T> marking() {
  auto made = std::make_shared<T>();
  made->markInLog = true;
  return made;
}

using Strings = std::vector<std::string>;

inline Device testDevice() {
  return {.manufacturer = "Framework", .model = "Laptop 13", .systemName = "Debian GNU/Linux",
          .systemVersion = "12", .identifierForVendor = kVendorId};
}

inline Location testFix() {
  return {.coordinate = {.latitude = 39.9042, .longitude = 116.4074}, .altitude = 43.5,
          .horizontalAccuracy = 8, .verticalAccuracy = 3, .speed = 1.25};
}

inline bool isUpperUuid(const std::string& text) {
  return std::regex_match(text, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
}

inline long countOf(const std::vector<std::string>& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

class ServiceTestEnvironment : public testing::Test {
 protected:
  void SetUp() override {
    Device::setCurrent(testDevice());
    delegate = marking();
    facade = makeFacade(delegate);
  }

  void TearDown() override {
    if (capture_) {
      (void)stopLog();
    }
    MainQueue::shared().poll();
    facade.reset();
  }

  /// A facade with consent and key "AK", pointed at `server`.
  std::shared_ptr<TkClientLocation> makeFacade(std::shared_ptr<LocationDelegate> with) {
    return readyFacade(std::move(with), server.baseURL(), "AK");
  }

  static bool waitForCalls(const RequiredOnlyRecorder& recorder, std::size_t count) {
    return MainQueue::shared().runUntil([&] { return recorder.heard.size() >= count; }, std::chrono::seconds(20));
  }

  /// Turns the log on and collects standard output until `stopLog()`.
  void startLog() {
    TkClientLocation::setIsLogEnabled(true);
    capture_.emplace();
  }
  std::vector<std::string> stopLog() {
    TkClientLocation::setIsLogEnabled(false);
    auto lines = linesOf(capture_->take());
    capture_.reset();
    return lines;
  }

  /// Drives the main queue until the captured log holds `line` `count` times: the delivery
  /// that wrote it has finished, callback included.
  bool waitForLogLine(const std::string& line, long count = 1) {
    return MainQueue::shared().runUntil([&] { return countOf(linesOf(capture_->text()), line) >= count; },
                                        std::chrono::seconds(20));
  }

  KitWorld world;
  TestServer server;
  std::shared_ptr<Recorder> delegate;
  std::shared_ptr<TkClientLocation> facade;

 private:
  static std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  std::optional<LogCapture> capture_;
};

}  // namespace tovik::test
