// The network client against real loopback servers, HTTP and HTTPS, and the requests it
// builds; the outcome tables are in data/.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

#include "services/outcome_table.h"
#include "support/log_capture.h"
#include "support/raw_socket_server.h"
#include "support/test_server.h"
#include "support/tls_test_environment.h"
#include "tovik/model/decoding_error.h"
#include "tovik/network/retry_after.h"
#include "tovik/network/service_address.h"
#include "tovik/network/curl_session.h"
#include "tovik/network/logged_url.h"
#include "tovik/network/network_client.h"
#include "tovik/network/network_error.h"
#include "tovik/network/request_builder.h"
#include "tovik/network/transport_error.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/services/service_answer.h"

namespace tovik::test {
namespace {

/// A small answer type: {"text": "<string>"}.
struct Greeting {
  std::string text;
};

}  // namespace
}  // namespace tovik::test

template <>
struct tovik::AnswerDecoding<tovik::test::Greeting> {
  static tovik::test::Greeting decode(const nlohmann::json& json) {
    if (!json.is_object() || !json.contains("text") || !json["text"].is_string()) {
      throw DecodingError("text", "expected a string");
    }
    return {json["text"].get<std::string>()};
  }
};

namespace tovik::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

/// The answer size limit of this program (small, to test it cheaply), as exchanges.outcomes
/// pads its bodies to it.
constexpr std::size_t kTestBodyLimit = 262144;
constexpr const char* kPath = "/location/hub/v1/track_points";

[[maybe_unused]] testing::Environment* const environment = testing::AddGlobalTestEnvironment([] {
  SessionConfiguration configuration;
  configuration.maximumBodySize = kTestBodyLimit;
  return new TlsTestEnvironment(configuration);
}());

/// What a completion saw.
template <class T>
struct Delivery {
  std::optional<RequestResult<T>> result;
  bool onMainThread = false;
};

/// Sends `request` through the shared client and decodes what came back as a service call
/// does; the completion runs on the main thread.
template <class T>
void sendDecoded(URLRequest request, std::function<void(RequestResult<T>)> completion) {
  NetworkClient::shared().send(std::move(request), [completion = std::move(completion)](
                                                       std::optional<std::string> data,
                                                       std::optional<HTTPURLResponse> response,
                                                       std::optional<Error> error) {
    completion(handleResponse<T>(std::move(data), std::move(response), std::move(error)));
  });
}

/// Sends `request` and drives the main queue until the completion has run (or a generous
/// time-out passes).
template <class T>
std::shared_ptr<Delivery<T>> sendAndWait(URLRequest request) {
  auto delivery = std::make_shared<Delivery<T>>();
  sendDecoded<T>(std::move(request), [delivery](RequestResult<T> result) {
    delivery->onMainThread = MainQueue::shared().isMainThread();
    delivery->result.emplace(std::move(result));
  });
  MainQueue::shared().runUntil([&] { return delivery->result.has_value(); }, 30s);
  return delivery;
}

/// Builds a request that must build.
URLRequest built(const RequestBuilder& builder) {
  auto result = builder.makeURLRequest();
  if (auto* error = std::get_if<Error>(&result)) {
    ADD_FAILURE() << "makeURLRequest failed: " << error->description();
    return {};
  }
  return std::get<URLRequest>(std::move(result));
}

using Fields = std::map<std::string, std::string>;

// The request a case describes, to `base`; see exchanges.outcomes.
RequestBuilder requestOf(const OutcomeCase& c, const std::string& base) {
  RequestBuilder builder;
  builder.urlString = base + c.get("path").value_or(kPath);
  if (const auto host = c.get("host")) {
    builder.urlString.replace(builder.urlString.find("127.0.0.1"), 9, *host);
  }
  builder.method = httpMethodFromRawValue(c["method"]).value();
  builder.queryParameters = c.pairs<Fields>("query", "|");
  if (const auto body = c.get("send")) {
    builder.bodyParameters = json::parse(*body);
  } else if (const auto size = c.get("send-size")) {
    builder.bodyParameters = json{{"v", std::string(std::stoul(*size), 'x')}};
  }
  builder.headers = c.pairs<Fields>("send-header", ": ");
  builder.timeoutInterval = std::stod(c.get("timeout").value_or("30"));
  return builder;
}

using NetworkExchangeTest = testing::TestWithParam<const char*>;

// Each request as built against a real server's answer: what arrives, what the completion
// gets (on the main thread) and what is logged.
TEST_P(NetworkExchangeTest, ArrivesAsBuiltAndGivesItsOutcomeAndLog) {
  using enum HTTPMethod;
  const std::string closedURL = TestServer().baseURL();  // a port right after its server stopped
  // The methods table runs on one kept-alive connection; every other case has a fresh one, as
  // libcurl sends a request again when a reused connection drops it.
  const bool oneConnection = GetParam() == std::string("methods");
  auto server = std::make_unique<TestServer>();
  for (const auto& c : loadOutcomes(std::string("network/data/") + GetParam() + ".outcomes")) {
    SCOPED_TRACE(c.name);
    if (!oneConnection) {
      server = c.get("tls") ? TestServer::https(TlsTestEnvironment::trusted()) : std::make_unique<TestServer>();
    }
    const bool listening = c["reply"] != "none";
    const RequestBuilder builder = requestOf(c, listening ? server->baseURL() : closedURL);
    server->respondToAll(replyOf(c));
    const std::size_t before = server->requestCount();

    std::shared_ptr<Delivery<Greeting>> delivery;
    const std::string printed = logOf([&] { delivery = sendAndWait<Greeting>(built(builder)); });
    ASSERT_TRUE(delivery->result.has_value());
    EXPECT_TRUE(delivery->onMainThread);
    const auto& result = *delivery->result;
    EXPECT_EQ(result.statusCode(), std::stoi(c["status"]));
    const std::string outcome = result.isSuccess() ? result.value().text : result.error().description();
    EXPECT_EQ(outcome, c["outcome"]);
    EXPECT_EQ(outcome.find("secret-key"), std::string::npos) << "the access key travels in the query only";
    if (const auto logged = c.get("logged")) {
      EXPECT_EQ(printed.rfind("解析错误：", 0), 0u) << printed;
      EXPECT_TRUE(printed.ends_with(*logged + "\n")) << printed;
      EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    } else {
      EXPECT_EQ(printed, "");
    }
    ASSERT_EQ(server->requestCount(), before + (listening ? 1 : 0));
    if (!listening) {
      continue;
    }

    const auto received = server->lastRequest();
    EXPECT_EQ(received.method, c["method"]);
    const std::string path = c.get("path").value_or(kPath);
    EXPECT_EQ(received.path, path.substr(0, path.find('?')));
    EXPECT_EQ(received.query, c.get("query") ? c.pairs("query", "|") : received.query);
    EXPECT_EQ(received.rawQuery, c.get("raw-query").value_or(received.rawQuery));
    EXPECT_EQ(received.rawQuery.find_first_of(" +"), std::string::npos) << received.rawQuery;
    EXPECT_EQ(received.body, builder.bodyParameters ? builder.bodyParameters->dump() : "");
    const bool carriesBody =
        builder.bodyParameters || builder.method == post || builder.method == put || builder.method == patch;
    EXPECT_EQ(received.header("Content-Length"),
              carriesBody ? std::optional(std::to_string(received.body.size())) : std::nullopt);
    EXPECT_EQ(received.headers.count("Content-Type"), 1u);
    EXPECT_EQ(received.header("Content-Type"), c.get("content-type").value_or("application/json"));
    EXPECT_EQ(received.header("X-Trace").has_value(), builder.headers.contains("X-Trace"));
    EXPECT_FALSE(received.header("Accept-Encoding") || received.header("Expect"));
  }
  EXPECT_TRUE(!oneConnection || server->connectionCount() == 1u) << "sequential requests keep one connection alive";
  for (const char* other : {"get", "Post", "HEAD", "", "GET "}) {
    EXPECT_EQ(httpMethodFromRawValue(other), std::nullopt) << other;
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, NetworkExchangeTest, testing::Values("exchanges", "methods"));

TEST(NetworkClientTest, RulesOnlyTheTransportCanProvoke) {
  for (const auto& c : loadOutcomes("network/data/transport.outcomes")) {
    SCOPED_TRACE(c.name);
    const auto status = c.get("response"), code = c.get("error");
    const auto response =
        status ? std::optional(HTTPURLResponse{"https://h.example.com/p", std::stoi(*status), {}}) : std::nullopt;
    const auto error = code ? std::optional(TransportError::fromCurlCode(std::stoi(*code))) : std::nullopt;
    std::optional<RequestResult<Greeting>> result;
    const std::string printed = logOf([&] { result.emplace(handleResponse<Greeting>(c.get("data"), response, error)); });
    ASSERT_TRUE(result->isFailure());
    EXPECT_EQ(result->statusCode(), std::stoi(c["status"]));
    EXPECT_EQ(result->error().description(), c["description"]);
    EXPECT_EQ(printed, "");
  }
}

// The service closes a kept-alive connection once it has read the second request, without
// answering: that request may have been acted on, so it fails instead of going out again.
TEST(NetworkClientTest, ARequestReachesTheServiceAtMostOnce) {
  for (const HTTPMethod method : {HTTPMethod::post, HTTPMethod::get}) {
    const std::string token(rawValue(method));
    SCOPED_TRACE(token);
    RawSocketServer server(RawScript{
        .reply = [](const std::string&) { return RawSocketServer::httpAnswer(200, R"({"text":"x"})"); },
        .awaitNextRequest = true});
    RequestBuilder builder;
    builder.urlString = server.baseURL() + kPath;
    builder.method = method;
    builder.bodyParameters = method == HTTPMethod::post ? std::optional(json{{"id", 1}}) : std::nullopt;
    ASSERT_TRUE(sendAndWait<Greeting>(built(builder))->result->isSuccess());

    std::vector<RequestResult<Greeting>> heard;
    sendDecoded<Greeting>(built(builder), [&](RequestResult<Greeting> result) { heard.push_back(std::move(result)); });
    ASSERT_TRUE(MainQueue::shared().runUntil([&] { return !heard.empty(); }, 30s));
    MainQueue::shared().runFor(50ms);  // room for a stray second call
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].statusCode(), -1);
    EXPECT_EQ(heard[0].isFailure() ? heard[0].error().localizedDescription() : "success", "网络连接已中断");
    const std::string received = server.received();
    std::size_t requests = 0;
    for (auto at = received.find(token + " /"); at != std::string::npos; at = received.find(token + " /", at + 1)) {
      ++requests;
    }
    EXPECT_EQ(requests, 2u);
  }
}

// Only the header fields the kit reads are kept; an answer with tens of thousands of lines
// is refused as they arrive, so it cannot hold the worker (and every other exchange).
TEST(NetworkClientTest, AnAnswerKeepsOnlyTheHeaderFieldsTheKitReads) {
  for (const int filler : {900, 50000}) {
    SCOPED_TRACE(filler);
    std::string fields;
    for (int i = 0; i < filler; ++i) {
      fields += "a:b\r\n";  // short: libcurl itself refuses a header of over 300 KiB
    }
    fields += "retry-after:  120 \r\n";
    RawSocketServer server(
        RawScript{.reply = [&fields](const std::string&) { return RawSocketServer::httpAnswer(503, "{}", fields); }});
    RequestBuilder builder;
    builder.urlString = server.baseURL() + kPath;
    const auto delivery = sendAndWait<Greeting>(built(builder));
    ASSERT_TRUE(delivery->result && delivery->result->response());
    EXPECT_EQ(delivery->result->statusCode(), 503);
    const bool refused = filler > 1000;
    const HTTPHeaderFields kept{{"Content-Type", "application/json"}, {"retry-after", "120"}};
    EXPECT_EQ(delivery->result->response()->headerFields, refused ? HTTPHeaderFields{} : kept);
    EXPECT_EQ(delivery->result->error().localizedDescription(), refused ? "网络连接已中断" : "请求失败，状态码: 503");
  }
}

// A body of millions of tiny values fails after a little of it, and the log quotes a marked
// cut of it; a long list of real places, spending tens of bytes a value, still decodes.
TEST(NetworkClientTest, AWideAnswerFailsEarlyWhileALongListOfPlacesDecodes) {
  using Places = std::vector<std::shared_ptr<GeocodeRes>>;
  const HTTPURLResponse ok{"https://h.example.com/p", 200, {}};
  std::string wide = "[{}";
  while (wide.size() < (std::size_t{4} << 20)) {
    wide += ",{}";
  }
  wide += "]";
  std::optional<RequestResult<Places>> result;
  const std::string printed = logOf([&] { result.emplace(handleResponse<Places>(wide, ok, std::nullopt)); });
  ASSERT_TRUE(result->isFailure());
  EXPECT_TRUE(NetworkError::is(result->error(), NetworkError::Case::decodingFailed));
  EXPECT_LT(printed.size(), 8192u);
  EXPECT_TRUE(printed.ends_with("…（已截断，共" + std::to_string(wide.size()) + "字节）\n")) << printed.substr(0, 200);

  const std::string place = R"({"id": "a", "geoPoint": "116.4806,39.9968", "type": "poi", "name": "望京SOHO",
      "code": "110105", "categories": [{"id": "050000", "name": "餐饮服务"}],
      "address": {"name": "北京市朝阳区", "context": [{"type": "city", "name": "北京市", "code": "110000"}]},
      "relevance": 0.92, "distance": 350.5})";
  std::string places = "[" + place;
  std::size_t count = 1;
  for (; places.size() < (std::size_t{4} << 20); ++count) {
    places += "," + place;
  }
  places += "]";
  const auto decoded = handleResponse<Places>(places, ok, std::nullopt);
  ASSERT_TRUE(decoded.isSuccess());
  EXPECT_EQ(decoded.value().size(), count);
}

TEST(NetworkClientTest, LoggedAddressesHideKeysAndPasswords) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"https://h.example.com/p?access_key=s3cret&city=x", "https://h.example.com/p?access_key=***&city=x"},
      {"https://u:pw@h.example.com:8443/p?a=1&ACCESS_KEY=k&poi_key=&b",
       "https://***@h.example.com:8443/p?a=1&ACCESS_KEY=***&poi_key=***&b"},
      {"https://u@h.example.com/@p?keyring=1", "https://***@h.example.com/@p?keyring=1"},
      {"http://127.0.0.1:1/p", "http://127.0.0.1:1/p"},
      {"http://h/p?x=1#access_key=s", "http://h/p?x=1#access_key=s"},
      {"http://h/p#f?access_key=s", "http://h/p#f?access_key=s"},
  };
  for (const auto& [url, shown] : cases) {
    EXPECT_EQ(loggedURL(url), shown);
  }
}

// Each rule a service address must meet, with the words that name it; the Retry-After forms.
TEST(NetworkClientTest, AServiceAddressIsRefusedForTheRuleItBreaks) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"https://lbs.example.com", ""},
      {"https://u:pw@lbs.example.com:8443/base/", ""},
      {"HTTP://127.0.0.9:8080/base", ""},
      {"http://[::1]:1", ""},
      {"http://localhost/", ""},
      {"lbs.example.com/v1", "no scheme"},
      {"", "no scheme"},
      {"ftp://lbs.example.com", "scheme must be https"},
      {"http://lbs.example.com", "plain http is allowed only to a loopback host"},
      {"http://127.example.com", "plain http is allowed only to a loopback host"},
      {"https:///v1", "names no host"},
      {"https://lbs.example.com/v1?access_key=x", "has a query"},
      {"https://lbs.example.com/v1#top", "has a fragment"},
      {"https://lbs example.com", "not a well-formed URL"},
  };
  for (const auto& [url, rule] : cases) {
    const auto problem = serviceAddressProblem(url);
    EXPECT_EQ(problem.has_value(), !rule.empty()) << url;
    EXPECT_NE(problem.value_or("").find(rule), std::string_view::npos) << url << ": " << problem.value_or("");
  }
  const auto now = std::chrono::system_clock::from_time_t(1445412480);  // Wed, 21 Oct 2015 07:28:00 GMT
  EXPECT_EQ(retryAfterSeconds("120", now), 120.0);
  EXPECT_EQ(retryAfterSeconds("99999999999999999999999", now), 366.0 * 24 * 3600);
  EXPECT_EQ(retryAfterSeconds("Wed, 21 Oct 2015 07:30:00 GMT", now), 120.0);
  EXPECT_EQ(retryAfterSeconds("Wednesday, 21-Oct-15 07:29:00 GMT", now), 60.0);
  EXPECT_EQ(retryAfterSeconds("Tue, 20 Oct 2015 07:28:00 GMT", now), 0.0);
  EXPECT_EQ(retryAfterSeconds("-5", now), std::nullopt);
  EXPECT_EQ(retryAfterSeconds("soon", now), std::nullopt);
  EXPECT_EQ(retryAfterSeconds("", now), std::nullopt);
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
    sendDecoded<EmptyResponse>(built(builder), [&, i](RequestResult<EmptyResponse> result) {
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

TEST(NetworkClientDeathTest, ExitWithARequestInFlightIsClean) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Under the address sanitizer a leak at exit would change the exit code.
  EXPECT_EXIT(
      {
        TestServer server;
        server.respondToAll(CannedResponse::delayed(60s));
        RequestBuilder builder;
        builder.urlString = server.url("/x");
        NetworkClient::shared().send(built(builder), [](auto...) {});
        server.waitForRequests(1);  // the request is in flight from here on
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(NetworkClientTest, AWorkerThatCannotStartFailsTheExchangeLaterOnTheMainThread) {
  CurlSession::setTestingHooks({.afterDispatch = nullptr, .beforeWorkerStart = [] {
                                  throw std::system_error(
                                      std::make_error_code(std::errc::resource_unavailable_try_again));
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
    std::ifstream in(task.path() / "status");
    const std::string status{std::istreambuf_iterator<char>(in), {}};
    const auto at = status.find("\nvoluntary_ctxt_switches:");
    if (status.starts_with("Name:\ttovik-network\n") && at != std::string::npos) {
      total += std::stol(status.substr(at + 25));
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

TEST(RequestBuilderTest, RefusesWhatCannotBeSentSafely) {
  for (const auto& c : loadOutcomes("network/data/refusals.outcomes")) {
    RequestBuilder builder;
    builder.urlString = c["url"];
    builder.method = HTTPMethod::post;
    builder.queryParameters = {{"access_key", "k"}};
    if (const auto size = c.get("note-size")) {
      builder.queryParameters["note"] = std::string(std::stoul(*size), ' ');
    }
    builder.headers = c.pairs<Fields>("send-header", ": ");
    json body;
    for (const char* kind : {"body-number", "body-text"}) {
      for (const auto& put : c.all(kind)) {
        const auto at = put.find(' ') + 1;  // 0 without a pointer: the whole body
        const std::string value = put.substr(at);
        body[json::json_pointer(put.substr(0, at ? at - 1 : 0))] =
            kind == std::string("body-text") ? json(value) : json(std::stod(value));
      }
    }
    if (!body.is_null()) {
      builder.bodyParameters = body;
    }
    const auto result = builder.makeURLRequest();  // decided here, before any I/O
    const Error* error = std::get_if<Error>(&result);
    EXPECT_EQ(error ? error->description() : "", c["refusal"]) << c.name;
  }
}

}  // namespace
}  // namespace tovik::test
