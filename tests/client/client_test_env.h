#pragma once

// A facade in a controlled world: scripted provider, offline network, pinned keys and
// a delegate that records what reaches the application.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "location/location_test_env.h"
#include "tovik/client/location_delegate.h"
#include "tovik/client/module_keys.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/model/location_res.h"
#include "tovik/network/network_checker.h"
#include "tovik/platform/clock.h"

namespace tovik::testing_env {

struct RecordingDelegate : LocationDelegate {
  std::vector<std::shared_ptr<LocationRes>> results;
  std::vector<std::string> errors;
  std::function<void()> onResult;

  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) override {
    results.push_back(location);
    if (onResult) {
      onResult();
    }
  }
  void onLocationErrorWithMsg(const std::string& msg) override { errors.push_back(msg); }
};

inline void setNetworkFlags(std::optional<std::uint32_t> flags) {
  NetworkChecker::setFlagsSourceForTesting([flags] { return flags; });
}

class ClientTestEnvironment : public LocationTestEnvironment {
 protected:
  void SetUp() override {
    LocationTestEnvironment::SetUp();
    setModuleAccessKey("");
    setModulePoiKey("");
    setNetworkFlags(0);  // offline unless a test says otherwise
    delegate = std::make_shared<RecordingDelegate>();
  }

  void TearDown() override {
    client.reset();
    NetworkChecker::setFlagsSourceForTesting(nullptr);
    Clock::pin(std::nullopt);
    setModuleAccessKey("");
    setModulePoiKey("");
    LocationTestEnvironment::TearDown();
  }

  /// A facade with `delegate`; its banner is kept out of the test output.
  std::shared_ptr<TkClientLocation> makeClient(std::shared_ptr<LocationDelegate> with) {
    std::shared_ptr<TkClientLocation> made;
    stdoutOf([&] { made = TkClientLocation::create(std::move(with)); });
    return made;
  }

  /// A facade that has consent and a key, ready to locate.
  void makeReadyClient() {
    client = makeClient(delegate);
    client->setAgreePrivacy(true);
    client->initKey("test-key");
  }

  std::shared_ptr<RecordingDelegate> delegate;
  std::shared_ptr<TkClientLocation> client;
};

}  // namespace tovik::testing_env
