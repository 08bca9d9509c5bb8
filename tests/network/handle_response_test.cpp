#include <gtest/gtest.h>

#include "network_test_support.h"
#include "tovik/network/transport_error.h"

namespace tovik::test {
namespace {

HTTPURLResponse responseWith(int status) {
  HTTPURLResponse response;
  response.url = "https://h.example.com/p";
  response.statusCode = status;
  response.headerFields.set("Content-Type", "application/json");
  return response;
}

// The rules that a loopback server cannot provoke: what the transport hands over is given
// directly.
struct RuleCase {
  std::string name;
  std::optional<std::string> data;
  std::optional<HTTPURLResponse> response;
  std::optional<Error> error;
  std::optional<NetworkError::Case> failure;
  std::string failureDomain;  // when not a NetworkError
  int status;                 // of the delivered response, -1 for none
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class HandleResponseRules : public testing::TestWithParam<RuleCase> {};

TEST_P(HandleResponseRules, FirstMatchingRuleDecides) {
  const auto& c = GetParam();
  int calls = 0;
  std::optional<RequestResult<Greeting>> delivered;
  LogCapture log;
  NetworkClient::handleResponse<Greeting>(c.data, c.response, c.error, [&](RequestResult<Greeting> result) {
    ++calls;
    delivered.emplace(std::move(result));
  });
  const std::string printed = log.text();

  ASSERT_EQ(calls, 1);  // and before handleResponse returned
  EXPECT_EQ(delivered->statusCode(), c.status);
  EXPECT_EQ(printed, "");  // only an undecodable body is logged
  ASSERT_TRUE(delivered->isFailure());
  if (c.failure) {
    EXPECT_EQ(NetworkError::caseOf(delivered->error()), c.failure);
  } else {
    EXPECT_EQ(delivered->error().domain(), c.failureDomain);
  }
}

const Error kTimeout = TransportError::fromCurlCode(28);

INSTANTIATE_TEST_SUITE_P(
    NetworkClient, HandleResponseRules,
    testing::Values(
        RuleCase{"ErrorWithResponseKeepsIt", R"({"text":"x"})", responseWith(200), kTimeout,
                 NetworkError::Case::networkError, "", 200},
        RuleCase{"ErrorWithoutResponse", std::nullopt, std::nullopt, kTimeout, NetworkError::Case::networkError, "",
                 -1},
        RuleCase{"ErrorWinsOverBadStatus", std::nullopt, responseWith(500), kTimeout,
                 NetworkError::Case::networkError, "", 500},
        RuleCase{"NoResponse", R"({"text":"x"})", std::nullopt, std::nullopt, NetworkError::Case::invalidRequest, "",
                 -1},
        RuleCase{"Status199", R"({"text":"x"})", responseWith(199), std::nullopt, std::nullopt, "NetworkClient", 199},
        RuleCase{"Status300", R"({"text":"x"})", responseWith(300), std::nullopt, std::nullopt, "NetworkClient", 300},
        RuleCase{"NoDataIsNotLogged", std::nullopt, responseWith(200), std::nullopt,
                 NetworkError::Case::decodingFailed, "", 200}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tovik::test
