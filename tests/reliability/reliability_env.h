#pragma once

// The world of the reliability tests: facades with consent and a distinctive access key in
// a controlled world.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "location/location_test_env.h"
#include "support/ready_facade.h"
#include "support/recording_delegate.h"
#include "tovik/client/tk_client_location.h"

namespace tovik::test {

/// Distinctive, so that any text that leaks it is found.
inline constexpr const char* kAccessKey = "AK-5ecret-7f3c9e";

class ReliabilityTest : public testing::Test {
 protected:
  /// A facade with consent and `kAccessKey`, pointed at `serviceURL`.
  static std::shared_ptr<TkClientLocation> makeFacade(std::shared_ptr<LocationDelegate> delegate,
                                                      const std::string& serviceURL) {
    return readyFacade(std::move(delegate), serviceURL, kAccessKey);
  }

  static bool runUntil(const std::function<bool()>& predicate,
                       std::chrono::seconds timeout = std::chrono::seconds(60)) {
    return MainQueue::shared().runUntil(predicate, timeout);
  }

  KitWorld world;
  const std::shared_ptr<ScriptedLocationProvider> provider = world.provider;
};

}  // namespace tovik::test
