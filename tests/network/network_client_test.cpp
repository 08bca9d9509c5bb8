#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

#include "network_test_support.h"
#include "support/test_server.h"
#include "support/tls_test_environment.h"
#include "tovik/network/empty_response.h"
#include "tovik/network/transport_error.h"

namespace tovik::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPath = "/location/hub/v1/track_points";

struct Expected {
  std::optional<std::string> text;  // success: the decoded text
  std::string domain;               // failure: the error
  long code = 0;
  std::string localized;
  std::string description;
  int status = -1;  // -1: no HTTP response
  std::string logPrefix;  // what the kit logs, "" for nothing
  std::string logSuffix;
};

struct ExchangeCase {
  std::string name;
  CannedResponse server;
  Expected expected;
  double timeout = 30;
};

Expected success(std::string text, int status) {
  Expected e;
  e.text = std::move(text);
  e.status = status;
  return e;
}

Expected decodingFailed(int status, std::string logSuffix) {
  Expected e{std::nullopt, "NetworkError", 4, "数据解码失败", "decodingFailed", status, "", ""};
  if (!logSuffix.empty()) {
    e.logPrefix = "解析错误：";
    e.logSuffix = std::move(logSuffix);
  }
  return e;
}

Expected statusFailure(int status) {
  const std::string text = "请求失败，状态码: " + std::to_string(status);
  return {std::nullopt, "NetworkClient", status, text,
          "Error Domain=NetworkClient Code=" + std::to_string(status) + " \"" + text + "\"", status, "", ""};
}

Expected transportFailure(long curlCode, std::string text, int status) {
  return {std::nullopt,
          "NetworkError",
          0,
          text,
          "networkError(Error Domain=URLError Code=" + std::to_string(curlCode) + " \"" + text + "\")",
          status,
          "",
          ""};
}

const std::vector<ExchangeCase>& exchangeCases() {
  static const std::vector<ExchangeCase> cases = {
      {"Ok200Decodes", CannedResponse::json(200, R"({"text":"你好"})"), success("你好", 200)},
      {"Created201Decodes", CannedResponse::json(201, R"({"text":"made"})"), success("made", 201)},
      {"Status299Decodes", CannedResponse::json(299, R"({"text":"edge"})"), success("edge", 299)},
      {"NoContent204IsEmptyData", CannedResponse::json(204, ""), decodingFailed(204, "，原始数据：\n")},
      {"EmptyBody200", CannedResponse::json(200, ""), decodingFailed(200, "，原始数据：\n")},
      {"WrongShape200", CannedResponse::json(200, R"({"other":1})"),
       decodingFailed(200, "text: expected a string，原始数据：{\"other\":1}\n")},
      {"NotJson200", CannedResponse::json(200, "hello 世界"), decodingFailed(200, "，原始数据：hello 世界\n")},
      {"InvalidUtf8Body", CannedResponse::json(200, "\xff\xfe{"), decodingFailed(200, "，原始数据：无数据\n")},
      {"BodyOverLimit", CannedResponse::json(200, std::string(kTestBodyLimit + 1, ' ')), decodingFailed(200, "")},
      {"BodyAtLimitIsRead", CannedResponse::json(200, R"({"text":"x"})" + std::string(kTestBodyLimit - 12, ' ')),
       success("x", 200)},
      {"ServerError500NotDecoded", CannedResponse::json(500, R"({"text":"ignored"})"), statusFailure(500)},
      {"OverLimit500StillStatus", CannedResponse::json(500, std::string(kTestBodyLimit + 1, ' ')),
       statusFailure(500)},
      {"NotFound404", CannedResponse::json(404, ""), statusFailure(404)},
      {"RedirectNotFollowed", [] {
         auto r = CannedResponse::json(302, "");
         r.headers = {{"Location", "/elsewhere"}};
         return r;
       }(),
       statusFailure(302)},
      {"ConnectionDropped", CannedResponse::dropped(), transportFailure(52, "网络连接已中断", -1)},
      {"CutMidBodyKeepsResponse", CannedResponse::cutOff(200, R"({"text":"truncated"})"),
       transportFailure(18, "网络连接已中断", 200)},
      {"TimedOut", CannedResponse::delayed(5s), transportFailure(28, "请求超时", -1), 0.3},
  };
  return cases;
}

void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.name; }

class ExchangeTable : public testing::TestWithParam<ExchangeCase> {};

TEST_P(ExchangeTable, ServerBehaviourGivesOutcomeAndLog) {
  const auto& c = GetParam();
  TestServer server;
  server.respond("POST", kPath, c.server);

  RequestBuilder builder;
  builder.urlString = server.url(kPath);
  builder.method = HTTPMethod::post;
  builder.bodyParameters = nlohmann::json{{"id", 1}};
  builder.timeoutInterval = c.timeout;

  LogCapture log;
  const auto delivery = sendAndWait<Greeting>(built(builder));
  const std::string printed = log.text();

  ASSERT_EQ(delivery->calls, 1);
  EXPECT_TRUE(delivery->onMainThread);
  const auto& result = *delivery->result;
  EXPECT_EQ(result.statusCode(), c.expected.status);
  if (c.expected.text) {
    ASSERT_TRUE(result.isSuccess()) << result.error().description();
    EXPECT_EQ(result.value().text, *c.expected.text);
  } else {
    ASSERT_TRUE(result.isFailure());
    EXPECT_EQ(result.error().domain(), c.expected.domain);
    EXPECT_EQ(result.error().code(), c.expected.code);
    EXPECT_EQ(result.error().localizedDescription(), c.expected.localized);
    EXPECT_EQ(result.error().description(), c.expected.description);
  }
  if (c.expected.logPrefix.empty()) {
    EXPECT_EQ(printed, "");
  } else {
    EXPECT_EQ(printed.rfind(c.expected.logPrefix, 0), 0u) << printed;
    ASSERT_GE(printed.size(), c.expected.logSuffix.size());
    EXPECT_EQ(printed.substr(printed.size() - c.expected.logSuffix.size()), c.expected.logSuffix) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
  }
  EXPECT_EQ(server.requestCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(NetworkClient, ExchangeTable, testing::ValuesIn(exchangeCases()),
                         [](const auto& info) { return info.param.name; });

TEST(NetworkClientTest, ConnectionRefusedIsANetworkError) {
  int port = 0;
  {
    // A port that was just free and has nobody listening.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    ::close(fd);
  }
  RequestBuilder builder;
  builder.urlString = "http://127.0.0.1:" + std::to_string(port) + "/x";
  builder.queryParameters = {{"access_key", "secret-key"}};
  const auto delivery = sendAndWait<EmptyResponse>(built(builder));

  ASSERT_TRUE(delivery->result && delivery->result->isFailure());
  const Error& error = delivery->result->error();
  EXPECT_TRUE(NetworkError::is(error, NetworkError::Case::networkError));
  EXPECT_EQ(error.localizedDescription(), "无法连接到服务器");
  ASSERT_NE(error.underlying(), nullptr);
  EXPECT_EQ(error.underlying()->domain(), TransportError::kDomain);
  EXPECT_EQ(delivery->result->response(), std::nullopt);
  // The access key travels in the query; no error text may show it.
  EXPECT_EQ(error.description().find("secret-key"), std::string::npos);
}

TEST(NetworkClientTest, SequentialRequestsReuseOneConnection) {
  TestServer server;
  server.respondToAll(CannedResponse::json(200, "{}"));
  RequestBuilder builder;
  builder.urlString = server.url("/keep");
  builder.method = HTTPMethod::post;
  builder.bodyParameters = nlohmann::json{{"n", 1}};
  for (int i = 0; i < 20; ++i) {
    const auto delivery = sendAndWait<EmptyResponse>(built(builder));
    ASSERT_TRUE(delivery->result && delivery->result->isSuccess()) << i;
  }
  EXPECT_EQ(server.requestCount(), 20u);
  EXPECT_EQ(server.connectionCount(), 1u);
}

TEST(NetworkClientTest, RequestsRunConcurrentlyAndEachCompletesOnce) {
  // The server answers only once `kTogether` requests are inside it at the same time, so a
  // client that sent one at a time would get 503s.
  constexpr int kTogether = 6;
  constexpr int kRequests = 12;
  TestServer server;
  std::mutex mutex;
  std::condition_variable arrived;
  int inside = 0;
  server.on("GET", "/together", [&](const httplib::Request&, httplib::Response& response) {
    std::unique_lock lock(mutex);
    ++inside;
    arrived.notify_all();
    const bool met = arrived.wait_for(lock, 20s, [&] { return inside >= kTogether; });
    response.status = met ? 200 : 503;
    response.set_content("{}", "application/json");
  });

  RequestBuilder builder;
  builder.urlString = server.url("/together");
  std::vector<int> calls(kRequests, 0);
  int statusOk = 0;
  for (int i = 0; i < kRequests; ++i) {
    NetworkClient::shared().send<EmptyResponse>(built(builder), [&, i](RequestResult<EmptyResponse> result) {
      ++calls[i];
      statusOk += result.isSuccess() ? 1 : 0;
    });
  }
  const auto allDone = [&] { return std::all_of(calls.begin(), calls.end(), [](int n) { return n > 0; }); };
  ASSERT_TRUE(MainQueue::shared().runUntil(allDone, 60s));
  MainQueue::shared().runFor(20ms);  // room for a stray second call
  EXPECT_EQ(statusOk, kRequests);
  EXPECT_TRUE(std::all_of(calls.begin(), calls.end(), [](int n) { return n == 1; }));
}

TEST(NetworkClientTest, HttpsWithTrustedAuthoritySucceeds) {
  auto server = TestServer::https(TlsTestEnvironment::trusted());
  server->respond("POST", kPath, CannedResponse::json(200, R"({"text":"secure"})"));
  RequestBuilder builder;
  builder.urlString = server->url(kPath);
  builder.method = HTTPMethod::post;
  builder.queryParameters = {{"access_key", "k"}};
  builder.bodyParameters = nlohmann::json{{"id", "x"}};
  for (const char* host : {"127.0.0.1", "localhost"}) {
    builder.urlString = "https://" + std::string(host) + ":" + std::to_string(server->port()) + kPath;
    const auto delivery = sendAndWait<Greeting>(built(builder));
    ASSERT_TRUE(delivery->result && delivery->result->isSuccess())
        << host << ": " << delivery->result->error().description();
    EXPECT_EQ(delivery->result->value().text, "secure");
  }
  EXPECT_EQ(server->lastRequest().body, R"({"id":"x"})");
}

TEST(NetworkClientTest, HttpsWithUntrustedCertificateFails) {
  auto server = TestServer::https(TlsTestEnvironment::untrusted());
  server->respondToAll(CannedResponse::json(200, R"({"text":"should not arrive"})"));
  RequestBuilder builder;
  builder.urlString = server->url(kPath);
  const auto delivery = sendAndWait<Greeting>(built(builder));

  ASSERT_TRUE(delivery->result && delivery->result->isFailure());
  EXPECT_TRUE(NetworkError::is(delivery->result->error(), NetworkError::Case::networkError));
  EXPECT_EQ(delivery->result->error().localizedDescription(), "无法建立安全连接（TLS 证书校验失败）");
  EXPECT_EQ(server->requestCount(), 0u);
}

TEST(NetworkClientDeathTest, ExitWithARequestInFlightIsClean) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Under the address sanitizer a leak at exit would change the exit code.
  EXPECT_EXIT(
      {
        // A server that takes the connection and never answers.
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(listener, 4);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        RequestBuilder builder;
        builder.urlString = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x";
        NetworkClient::shared().send<EmptyResponse>(built(builder), [](RequestResult<EmptyResponse>) {});
        ::accept(listener, nullptr, nullptr);  // the request is in flight from here on
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(NetworkClientTest, ConfigurationIsFixedOnceInUse) {
  (void)NetworkClient::shared();
  SessionConfiguration other;
  other.maximumBodySize = 1;
  EXPECT_FALSE(NetworkClient::configure(other));
  EXPECT_EQ(NetworkClient::shared().configuration().maximumBodySize, kTestBodyLimit);
}

}  // namespace
}  // namespace tovik::test
