#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "reliability/reliability_env.h"

namespace tovik::test {

namespace {

// gtest owns the environment; the answer size limit keeps its default.
[[maybe_unused]] testing::Environment* const tls = testing::AddGlobalTestEnvironment(new TlsTestEnvironment);

}  // namespace

const TestCertificates::Issued& wrongHostCertificate() {
  static const TestCertificates::Issued issued = TlsTestEnvironment::trusted().issue("wrong-host.example");
  return issued;
}

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

}  // namespace tovik::test
