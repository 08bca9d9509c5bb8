#pragma once

#include <string>

namespace tovik::test {

/// A fresh certificate authority and a server certificate it signed, for 127.0.0.1, ::1 and
/// "localhost", made with the `openssl` command in a temporary folder that is removed again
/// with this object. Each instance is its own authority, so a second one serves as an
/// untrusted issuer. Throws std::runtime_error when the files cannot be made.
class TestCertificates {
 public:
  TestCertificates();
  ~TestCertificates();
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  /// PEM file of the authority, for the client to trust.
  const std::string& caFile() const { return caFile_; }
  /// PEM files of the server's certificate and private key.
  const std::string& serverCertificateFile() const { return serverCertificateFile_; }
  const std::string& serverKeyFile() const { return serverKeyFile_; }
  const std::string& directory() const { return directory_; }

  /// A further server certificate from this authority, for `host` only: PEM files of the
  /// certificate and its key, named after the host.
  struct Issued {
    std::string certificateFile;
    std::string keyFile;
  };
  Issued issue(const std::string& host) const;

 private:
  Issued issue(const std::string& name, const std::string& subjectAltName) const;

  std::string directory_;
  std::string caFile_;
  std::string serverCertificateFile_;
  std::string serverKeyFile_;
};

}  // namespace tovik::test
