#pragma once

#include <string>
#include <utility>

namespace tovik::test {

/// A certificate authority and a server certificate it signed, for 127.0.0.1, ::1 and
/// "localhost": PEM files checked in under tests/support/data (see its README), valid for a
/// century. "trusted" and "untrusted" are separate authorities, so one serves as an untrusted
/// issuer of the other.
class TestCertificates {
 public:
  explicit TestCertificates(const std::string& authority)
      : prefix_(TOVIK_TESTS_DIR "/support/data/" + authority) {}

  /// PEM file of the authority, for the client to trust.
  std::string caFile() const { return prefix_ + "-ca.pem"; }
  /// PEM files of the server's certificate and private key.
  std::string serverCertificateFile() const { return prefix_ + "-server.pem"; }
  std::string serverKeyFile() const { return prefix_ + "-server.key"; }

  /// A further server certificate from this authority, for `host` only: PEM files of the
  /// certificate and its key, named after the host (the trusted authority has one for
  /// "wrong-host.example").
  struct Issued {
    std::string certificateFile;
    std::string keyFile;
  };
  Issued issue(const std::string& host) const { return {prefix_ + "-" + host + ".pem", prefix_ + "-" + host + ".key"}; }

 private:
  std::string prefix_;
};

}  // namespace tovik::test
