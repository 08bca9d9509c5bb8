#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "support/test_certificates.h"
#include "tovik/network/network_client.h"
#include "tovik/network/session_configuration.h"

namespace tovik::test {

/// Has the kit's network client trust the first of two certificate authorities. The client
/// takes its configuration on first use, so this must run before any test: register it once
/// per test program, at namespace scope in one file (gtest owns it):
///
///   [[maybe_unused]] auto* const tls =
///       testing::AddGlobalTestEnvironment(new tovik::test::TlsTestEnvironment);
///
/// Then `TestServer::https(TlsTestEnvironment::trusted())` is accepted by the client and
/// `TestServer::https(TlsTestEnvironment::untrusted())` is refused. Header-only: the test
/// program links the network module anyway.
class TlsTestEnvironment : public testing::Environment {
 public:
  /// `configuration` is what the client gets, with the trusted authority as its CA file.
  explicit TlsTestEnvironment(SessionConfiguration configuration = {}) : configuration_(std::move(configuration)) {}

  void SetUp() override {
    configuration_.caFile = trusted().caFile();
    ASSERT_TRUE(NetworkClient::configure(configuration_)) << "the network client was used before the environment";
  }

  static TestCertificates trusted() { return TestCertificates("trusted"); }
  static TestCertificates untrusted() { return TestCertificates("untrusted"); }

 private:
  SessionConfiguration configuration_;
};

}  // namespace tovik::test
