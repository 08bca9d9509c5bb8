#include <gtest/gtest.h>

#include <memory>

#include "network_test_support.h"

namespace tovik::test {

namespace {

struct Certificates {
  TestCertificates trusted;
  TestCertificates untrusted;
};

std::unique_ptr<Certificates>& certificates() {
  static std::unique_ptr<Certificates> made;
  return made;
}

// The shared client takes its configuration on first use, so this runs before any test.
class NetworkEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    certificates() = std::make_unique<Certificates>();
    SessionConfiguration configuration;
    configuration.caFile = certificates()->trusted.caFile();
    configuration.maximumBodySize = kTestBodyLimit;
    ASSERT_TRUE(NetworkClient::configure(configuration));
  }
  void TearDown() override { certificates().reset(); }
};

// gtest owns the environment.
[[maybe_unused]] testing::Environment* const environment = testing::AddGlobalTestEnvironment(new NetworkEnvironment);

}  // namespace

const TestCertificates& trustedCertificates() { return certificates()->trusted; }
const TestCertificates& untrustedCertificates() { return certificates()->untrusted; }

}  // namespace tovik::test
