#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <utility>

#include "support/test_certificates.h"
#include "tovik/network/network_client.h"
#include "tovik/network/session_configuration.h"

namespace tovik::test {

/// Makes two certificate authorities for a test program and has the kit's network client
/// trust the first. The client takes its configuration on first use, so this must run
/// before any test: register it once per test program, at namespace scope in one file
/// (gtest owns it):
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
    try {
      certificates() = std::make_unique<Authorities>();
    } catch (const std::exception& failure) {
      FAIL() << failure.what() << " (the TLS tests make their certificates with the openssl command)";
    }
    configuration_.caFile = certificates()->trusted.caFile();
    ASSERT_TRUE(NetworkClient::configure(configuration_)) << "the network client was used before the environment";
  }
  void TearDown() override { certificates().reset(); }

  static const TestCertificates& trusted() { return certificates()->trusted; }
  static const TestCertificates& untrusted() { return certificates()->untrusted; }

 private:
  struct Authorities {
    TestCertificates trusted;
    TestCertificates untrusted;
  };
  static std::unique_ptr<Authorities>& certificates() {
    static std::unique_ptr<Authorities> made;
    return made;
  }

  SessionConfiguration configuration_;
};

}  // namespace tovik::test
