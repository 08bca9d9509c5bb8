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
  std::optional<NetworkError::Case> failure;  // none: a success
  std::string failureDomain;                  // when not a NetworkError
  int status;                                 // of the delivered response, -1 for none
  bool logs;
};

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
  EXPECT_EQ(!printed.empty(), c.logs) << printed;
  if (!c.failure && c.failureDomain.empty()) {
    EXPECT_TRUE(delivered->isSuccess());
    return;
  }
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
                 NetworkError::Case::networkError, "", 200, false},
        RuleCase{"ErrorWithoutResponse", std::nullopt, std::nullopt, kTimeout, NetworkError::Case::networkError, "",
                 -1, false},
        RuleCase{"ErrorWinsOverBadStatus", std::nullopt, responseWith(500), kTimeout,
                 NetworkError::Case::networkError, "", 500, false},
        RuleCase{"NoResponse", R"({"text":"x"})", std::nullopt, std::nullopt, NetworkError::Case::invalidRequest, "",
                 -1, false},
        RuleCase{"Status199", R"({"text":"x"})", responseWith(199), std::nullopt, std::nullopt, "NetworkClient", 199,
                 false},
        RuleCase{"Status300", R"({"text":"x"})", responseWith(300), std::nullopt, std::nullopt, "NetworkClient", 300,
                 false},
        RuleCase{"Status500WithoutData", std::nullopt, responseWith(500), std::nullopt, std::nullopt, "NetworkClient",
                 500, false},
        RuleCase{"NoDataIsNotLogged", std::nullopt, responseWith(200), std::nullopt,
                 NetworkError::Case::decodingFailed, "", 200, false},
        RuleCase{"EmptyDataIsLogged", std::string(), responseWith(200), std::nullopt,
                 NetworkError::Case::decodingFailed, "", 200, true},
        RuleCase{"Status200Decodes", R"({"text":"x"})", responseWith(200), std::nullopt, std::nullopt, "", 200, false},
        RuleCase{"Status299Decodes", R"({"text":"x"})", responseWith(299), std::nullopt, std::nullopt, "", 299,
                 false}),
    [](const auto& info) { return info.param.name; });

TEST(HandleResponseTest, StatusErrorTextEndsInAsciiColonAndNumber) {
  const Error error = NetworkClient::statusError(503);
  EXPECT_EQ(error.domain(), "NetworkClient");
  EXPECT_EQ(error.code(), 503);
  EXPECT_EQ(error.localizedDescription(), "请求失败，状态码: 503");
}

TEST(HandleResponseTest, NetworkErrorShowsTheWrappedText) {
  std::optional<RequestResult<Greeting>> delivered;
  NetworkClient::handleResponse<Greeting>(std::nullopt, std::nullopt, TransportError::fromCurlCode(7),
                                          [&](RequestResult<Greeting> r) { delivered.emplace(std::move(r)); });
  ASSERT_TRUE(delivered);
  EXPECT_EQ(delivered->error().localizedDescription(), "无法连接到服务器");
  ASSERT_NE(delivered->error().underlying(), nullptr);
  EXPECT_EQ(delivered->error().underlying()->code(), 7);
}

TEST(TransportErrorTest, MapsCurlCodesToDisplayTexts) {
  const std::vector<std::pair<int, std::string>> table = {
      {7, "无法连接到服务器"},
      {6, "未能找到使用指定主机名的服务器"},
      {28, "请求超时"},
      {60, "无法建立安全连接（TLS 证书校验失败）"},
      {35, "无法建立安全连接（TLS 握手失败）"},
      {52, "网络连接已中断"},
      {3, "网络连接错误：URL using bad/illegal format or missing URL"},
  };
  for (const auto& [code, text] : table) {
    const Error error = TransportError::fromCurlCode(code);
    EXPECT_EQ(error.domain(), "URLError");
    EXPECT_EQ(error.code(), code);
    EXPECT_EQ(error.localizedDescription(), text) << code;
  }
}

}  // namespace
}  // namespace tovik::test
