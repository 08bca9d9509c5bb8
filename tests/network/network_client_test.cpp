#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "network_test_support.h"
#include "support/test_server.h"
#include "support/tls_test_environment.h"
#include "tovik/network/empty_response.h"
#include "tovik/network/transport_error.h"

namespace tovik::test {
namespace {

using namespace std::chrono_literals;

SessionConfiguration smallBodyLimit() {
  SessionConfiguration configuration;
  configuration.maximumBodySize = kTestBodyLimit;
  return configuration;
}

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new TlsTestEnvironment(smallBodyLimit()));

constexpr const char* kPath = "/location/hub/v1/track_points";

std::string statusFailure(int status) {
  return "Error Domain=NetworkClient Code=" + std::to_string(status) + " \"请求失败，状态码: " +
         std::to_string(status) + "\"";
}

std::string transportFailure(long curlCode, const std::string& text) {
  return "networkError(Error Domain=URLError Code=" + std::to_string(curlCode) + " \"" + text + "\")";
}

const std::string kDecodingFailed = "decodingFailed";

TEST(NetworkClientTest, ServerBehaviourGivesOutcomeAndLog) {
  const struct {
    std::optional<CannedResponse> server;  // none: nobody listens on the port any more
    int status;                            // of the delivered response, -1 for none
    std::string outcome;                   // the decoded text, or the error's description
    std::string logged = "";               // how the one log line ends, "" for no line
    double timeout = 30;
  } cases[] = {
      {CannedResponse::json(200, R"({"text":"你好"})"), 200, "你好"},
      {CannedResponse::json(299, R"({"text":"edge"})"), 299, "edge"},
      {CannedResponse::json(204, ""), 204, kDecodingFailed, "，原始数据：\n"},
      {CannedResponse::json(200, ""), 200, kDecodingFailed, "，原始数据：\n"},
      {CannedResponse::json(200, R"({"other":1})"), 200, kDecodingFailed,
       "text: expected a string，原始数据：{\"other\":1}\n"},
      {CannedResponse::json(200, "hello 世界"), 200, kDecodingFailed, "，原始数据：hello 世界\n"},
      {CannedResponse::json(200, "\xff\xfe{"), 200, kDecodingFailed, "，原始数据：无数据\n"},
      {CannedResponse::json(200, std::string(kTestBodyLimit + 1, ' ')), 200, kDecodingFailed},
      {CannedResponse::json(200, R"({"text":"x"})" + std::string(kTestBodyLimit - 12, ' ')), 200, "x"},
      {CannedResponse::json(500, R"({"text":"ignored"})"), 500, statusFailure(500)},
      {CannedResponse::json(500, std::string(kTestBodyLimit + 1, ' ')), 500, statusFailure(500)},
      {CannedResponse{302, "", "application/json", {{"Location", "/elsewhere"}}}, 302, statusFailure(302)},
      {std::nullopt, -1, transportFailure(7, "无法连接到服务器")},
      {CannedResponse::dropped(), -1, transportFailure(52, "网络连接已中断")},
      {CannedResponse::cutOff(200, R"({"text":"truncated"})"), 200, transportFailure(18, "网络连接已中断")},
      {CannedResponse::delayed(5s), -1, transportFailure(28, "请求超时"), "", 0.3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outcome + " from status " + std::to_string(c.server ? c.server->status : 0));
    TestServer server;
    RequestBuilder builder;
    builder.urlString = server.url(kPath);
    builder.method = HTTPMethod::post;
    builder.queryParameters = {{"access_key", "secret-key"}};
    builder.bodyParameters = nlohmann::json{{"id", 1}};
    builder.timeoutInterval = c.timeout;
    if (c.server) {
      server.respond("POST", kPath, *c.server);
    } else {
      server.stop();
    }

    std::shared_ptr<Delivery<Greeting>> delivery;
    const std::string printed = loggedDuring([&] { delivery = sendAndWait<Greeting>(built(builder)); });

    ASSERT_TRUE(delivery->result.has_value());
    EXPECT_TRUE(delivery->onMainThread);
    const auto& result = *delivery->result;
    EXPECT_EQ(result.statusCode(), c.status);
    const std::string outcome = result.isSuccess() ? result.value().text : result.error().description();
    EXPECT_EQ(outcome, c.outcome);
    // The access key travels in the query; no error text may show it.
    EXPECT_EQ(outcome.find("secret-key"), std::string::npos);
    if (c.logged.empty()) {
      EXPECT_EQ(printed, "");
    } else {
      EXPECT_EQ(printed.rfind("解析错误：", 0), 0u) << printed;
      EXPECT_TRUE(printed.ends_with(c.logged)) << printed;
      EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    }
    EXPECT_EQ(server.requestCount(), c.server ? 1u : 0u);
  }
}

TEST(NetworkClientTest, RulesOnlyTheTransportCanProvoke) {
  const auto response = [](int status) { return HTTPURLResponse{"https://h.example.com/p", status, {}}; };
  const Error timeout = TransportError::fromCurlCode(28);
  const std::string timedOut = transportFailure(28, "请求超时");
  const struct {
    std::optional<std::string> data;
    std::optional<HTTPURLResponse> response;
    std::optional<Error> error;
    int status;
    std::string description;
  } cases[] = {
      {R"({"text":"x"})", response(200), timeout, 200, timedOut},  // the response is kept
      {std::nullopt, std::nullopt, timeout, -1, timedOut},
      {std::nullopt, response(500), timeout, 500, timedOut},  // the error wins over the status
      {R"({"text":"x"})", std::nullopt, std::nullopt, -1, "invalidRequest"},
      {R"({"text":"x"})", response(199), std::nullopt, 199, statusFailure(199)},
      {std::nullopt, response(200), std::nullopt, 200, kDecodingFailed},  // and not logged
  };
  for (const auto& c : cases) {
    int calls = 0;
    const std::string printed = loggedDuring([&] {
      NetworkClient::handleResponse<Greeting>(c.data, c.response, c.error, [&](RequestResult<Greeting> result) {
        ++calls;
        ASSERT_TRUE(result.isFailure());
        EXPECT_EQ(result.statusCode(), c.status);
        EXPECT_EQ(result.error().description(), c.description);
      });
    });
    EXPECT_EQ(calls, 1) << c.description;  // and before handleResponse returned
    EXPECT_EQ(printed, "");
  }
}

TEST(NetworkClientTest, RequestsRunConcurrentlyAndEachCompletesOnce) {
  // The server answers only once `kTogether` requests are inside it at the same time, so a
  // client that sent one at a time would get 503s.
  constexpr int kTogether = 6;
  constexpr int kRequests = 12;
  // Declared before the server, which joins its threads when it goes: the handlers use them.
  std::mutex mutex;
  std::condition_variable arrived;
  int inside = 0;
  TestServer server;
  server.on("GET", "/together", [&](const httplib::Request&, httplib::Response& response) {
    std::unique_lock lock(mutex);
    ++inside;
    arrived.notify_all();
    response.status = arrived.wait_for(lock, 20s, [&] { return inside >= kTogether; }) ? 200 : 503;
    response.set_content("{}", "application/json");
  });

  RequestBuilder builder;
  builder.urlString = server.url("/together");
  std::vector<int> calls(kRequests, 0);
  int succeeded = 0;
  for (int i = 0; i < kRequests; ++i) {
    NetworkClient::shared().send<EmptyResponse>(built(builder), [&, i](RequestResult<EmptyResponse> result) {
      ++calls[i];
      succeeded += result.isSuccess() ? 1 : 0;
    });
  }
  const auto allDone = [&] { return std::ranges::all_of(calls, [](int n) { return n > 0; }); };
  ASSERT_TRUE(MainQueue::shared().runUntil(allDone, 60s));
  MainQueue::shared().runFor(20ms);  // room for a stray second call
  EXPECT_EQ(succeeded, kRequests);
  EXPECT_TRUE(std::ranges::all_of(calls, [](int n) { return n == 1; }));
}

TEST(NetworkClientTest, HttpsNeedsATrustedAuthority) {
  auto trusted = TestServer::https(TlsTestEnvironment::trusted());
  trusted->respond("POST", kPath, CannedResponse::json(200, R"({"text":"secure"})"));
  RequestBuilder builder;
  builder.method = HTTPMethod::post;
  builder.bodyParameters = nlohmann::json{{"id", "x"}};
  for (const char* host : {"127.0.0.1", "localhost"}) {
    builder.urlString = "https://" + std::string(host) + ":" + std::to_string(trusted->port()) + kPath;
    const auto delivery = sendAndWait<Greeting>(built(builder));
    ASSERT_TRUE(delivery->result && delivery->result->isSuccess())
        << host << ": " << delivery->result->error().description();
    EXPECT_EQ(delivery->result->value().text, "secure");
  }
  EXPECT_EQ(trusted->lastRequest().body, R"({"id":"x"})");

  auto untrusted = TestServer::https(TlsTestEnvironment::untrusted());
  untrusted->respondToAll(CannedResponse::json(200, R"({"text":"should not arrive"})"));
  builder.urlString = untrusted->url(kPath);
  const auto delivery = sendAndWait<Greeting>(built(builder));
  ASSERT_TRUE(delivery->result && delivery->result->isFailure());
  EXPECT_TRUE(NetworkError::is(delivery->result->error(), NetworkError::Case::networkError));
  EXPECT_EQ(delivery->result->error().localizedDescription(), "无法建立安全连接（TLS 证书校验失败）");
  EXPECT_EQ(untrusted->requestCount(), 0u);
}

TEST(NetworkClientDeathTest, ExitWithARequestInFlightIsClean) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Under the address sanitizer a leak at exit would change the exit code.
  EXPECT_EXIT(
      {
        TestServer server;
        server.respondToAll(CannedResponse::delayed(60s));
        RequestBuilder builder;
        builder.urlString = server.url("/x");
        NetworkClient::shared().send<EmptyResponse>(built(builder), [](RequestResult<EmptyResponse>) {});
        server.waitForRequests(1);  // the request is in flight from here on
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(NetworkClientTest, AWorkerThatCannotStartFailsTheExchangeLaterOnTheMainThread) {
  CurlSession::setTestingHooks({.afterDispatch = nullptr, .beforeWorkerStart = [] {
                                  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                                }});
  struct Unhook {
    ~Unhook() { CurlSession::setTestingHooks({}); }
  } unhook;
  CurlSession session(SessionConfiguration{},
                      [](std::function<void()> work) { MainQueue::shared().async(std::move(work)); });
  TestServer server;
  server.respondToAll(CannedResponse::json(200, "{}"));
  RequestBuilder builder;
  builder.urlString = server.url("/x");
  std::vector<std::pair<std::string, bool>> heard;  // the error's description, on the main thread
  const auto record = [&](std::optional<std::string>, std::optional<HTTPURLResponse> response,
                          std::optional<Error> error) {
    heard.emplace_back(error ? error->description() : "status " + std::to_string(response ? response->statusCode : -1),
                       MainQueue::shared().isMainThread());
  };
  session.dataTask(built(builder), record);
  EXPECT_TRUE(heard.empty()) << "never inside the call";
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return !heard.empty(); }, 20s));

  CurlSession::setTestingHooks({});  // the next exchange tries again
  session.dataTask(built(builder), record);
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return heard.size() == 2; }, 20s));
  MainQueue::shared().runFor(20ms);  // room for a stray second call
  const std::vector<std::pair<std::string, bool>> expected = {
      {"Error Domain=URLError Code=2 \"网络连接错误：无法启动网络线程\"", true}, {"status 200", true}};
  EXPECT_EQ(heard, expected);
  EXPECT_EQ(server.requestCount(), 1u);
}

// Voluntary context switches of every libcurl worker thread of this process.
long workerWakeUps() {
  long total = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (!std::getline(comm, name) || name != "tovik-network") {
      continue;
    }
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("voluntary_ctxt_switches:")) {
        total += std::stol(line.substr(line.find(':') + 1));
      }
    }
  }
  return total;
}

TEST(NetworkClientTest, AnIdleWorkerSleepsUntilThereIsWork) {
  TestServer server;
  server.respondToAll(CannedResponse::json(200, R"({"text":"x"})"));
  RequestBuilder builder;
  builder.urlString = server.url("/x");
  ASSERT_TRUE(sendAndWait<Greeting>(built(builder))->result);
  server.stop();  // nothing left that could make a socket ready
  MainQueue::shared().runFor(50ms);
  const long before = workerWakeUps();
  ASSERT_GT(before, 0) << "no worker thread found";
  std::this_thread::sleep_for(1500ms);  // longer than any time slice a polling loop would use
  EXPECT_EQ(workerWakeUps(), before);
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
