#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "reliability/reliability_env.h"
#include "support/test_certificates.h"
#include "tovik/network/network_client.h"

namespace tovik::reliability {

namespace {

void openssl(const std::string& arguments) {
  if (std::system(("openssl " + arguments + " >/dev/null 2>&1 </dev/null").c_str()) != 0) {
    throw std::runtime_error("openssl " + arguments.substr(0, arguments.find(' ')) + " failed");
  }
}

struct TlsWorld {
  test::TestCertificates authority;
  TlsFiles files;

  TlsWorld() {
    const std::string dir = authority.directory() + "/";
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 3 ";
    files.caFile = authority.caFile();
    files.wrongHostKey = dir + "wrong.key";
    files.wrongHostCertificate = dir + "wrong.pem";
    std::ofstream(dir + "wrong.ext") << "subjectAltName=DNS:wrong-host.example\nextendedKeyUsage=serverAuth\n";
    openssl("req -new " + ec + "-keyout " + files.wrongHostKey + " -out " + dir + "wrong.csr -subj /CN=wrong-host.example");
    openssl("x509 -req -in " + dir + "wrong.csr -CA " + files.caFile + " -CAkey " + dir + "ca.key -CAcreateserial -out " +
            files.wrongHostCertificate + " -days 3 -extfile " + dir + "wrong.ext");
    files.selfSignedKey = dir + "self.key";
    files.selfSignedCertificate = dir + "self.pem";
    openssl("req -x509 " + ec + "-keyout " + files.selfSignedKey + " -out " + files.selfSignedCertificate +
            " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1");
  }
};

std::unique_ptr<TlsWorld>& world() {
  static std::unique_ptr<TlsWorld> made;
  return made;
}

// The shared client takes its configuration on first use, so this runs before any test.
// The answer size limit keeps its default.
class ReliabilityEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    world() = std::make_unique<TlsWorld>();
    SessionConfiguration configuration;
    configuration.caFile = world()->files.caFile;
    ASSERT_TRUE(NetworkClient::configure(configuration));
  }
  void TearDown() override { world().reset(); }
};

// gtest owns the environment.
[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new ReliabilityEnvironment);

}  // namespace

const TlsFiles& tlsFiles() { return world()->files; }

std::int64_t residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::strtoll(line.c_str() + 6, nullptr, 10);
    }
  }
  return -1;
}

int openDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

}  // namespace tovik::reliability
