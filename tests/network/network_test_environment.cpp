#include "network_test_support.h"
#include "support/tls_test_environment.h"

namespace tovik::test {
namespace {

SessionConfiguration withSmallBodyLimit() {
  SessionConfiguration configuration;
  configuration.maximumBodySize = kTestBodyLimit;
  return configuration;
}

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new TlsTestEnvironment(withSmallBodyLimit()));

}  // namespace
}  // namespace tovik::test
