#pragma once

// The world of the reliability tests: facades with consent and a distinctive access key in
// a controlled world, and certificates the shared client trusts or not.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "support/kit_world.h"
#include "support/ready_facade.h"
#include "support/recording_delegate.h"
#include "support/test_certificates.h"
#include "support/tls_test_environment.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/network/network_checker.h"
#include "tovik/providers/location.h"
#include "tovik/runloop/main_queue.h"

namespace tovik::test {

/// Distinctive, so that any text that leaks it is found.
inline constexpr const char* kAccessKey = "AK-5ecret-7f3c9e";

/// A server certificate from the authority the shared client trusts, for another host.
const TestCertificates::Issued& wrongHostCertificate();

/// Resident set size and open descriptors of this process.
std::int64_t residentKilobytes();
int openDescriptors();

class ReliabilityTest : public testing::Test {
 protected:
  /// A facade with consent and `kAccessKey`, pointed at `serviceURL`.
  static std::shared_ptr<TkClientLocation> makeFacade(std::shared_ptr<LocationDelegate> delegate,
                                                      const std::string& serviceURL) {
    return readyFacade(std::move(delegate), serviceURL, kAccessKey);
  }

  static Location fix(double latitude = 39.9042, double longitude = 116.4074) {
    Location location;
    location.coordinate = {latitude, longitude};
    location.horizontalAccuracy = 5;
    return location;
  }

  static bool runUntil(const std::function<bool()>& predicate, std::chrono::seconds timeout = std::chrono::seconds(60)) {
    return MainQueue::shared().runUntil(predicate, timeout);
  }

  KitWorld world;
  const std::shared_ptr<ScriptedLocationProvider> provider = world.provider;
};

}  // namespace tovik::test
