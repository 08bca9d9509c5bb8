#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "network_test_support.h"
#include "support/test_server.h"
#include "tovik/network/empty_response.h"
#include "tovik/network/network_error.h"

namespace tovik::test {
namespace {

using nlohmann::json;

constexpr const char* kHttps = "https://h.example.com/p";

std::string encodingFailure(int code, const std::string& detail) {
  return "Error Domain=EncodingError Code=" + std::to_string(code) + " \"数据编码失败：" + detail + "\"";
}

TEST(RequestBuilderTest, RefusesWhatCannotBeSentSafely) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::string url;
    std::string refusal;  // the error's description, "" when the request builds
    std::map<std::string, std::string> headers = {};
    std::optional<nlohmann::json> body = std::nullopt;
    std::map<std::string, std::string> query = {{"access_key", "k"}};
  } cases[] = {
      {"https://loc.example.com/location/hub/v1/track_points", ""},
      {"http://127.0.0.1:8600/p", ""},
      {"http://127.9.8.7/p", ""},
      {"HTTP://LocalHost/p", ""},
      {"http://[::1]:8600/p", ""},
      // Plain http only to loopback: the query carries the access key.
      {"http://loc.example.com/p", "invalidURL"},
      {"http://10.0.0.1/p", "invalidURL"},
      {"http://128.0.0.1/p", "invalidURL"},
      {"http://localhost.example.com/p", "invalidURL"},
      {"http://[::2]/p", "invalidURL"},
      {"ftp://127.0.0.1/p", "invalidURL"},
      {"", "invalidURL"},
      {"//127.0.0.1/p", "invalidURL"},
      {"https://exa mple.com/", "invalidURL"},
      {"https://", "invalidURL"},
      // Header fields that would split the request.
      {kHttps, "invalidRequest", {{"X-Evil", "a\r\nHost: other"}}},
      {kHttps, "invalidRequest", {{"X-Evil", std::string("a\0b", 3)}}},
      {kHttps, "invalidRequest", {{"Bad Name", "v"}}},
      // A query value libcurl will not percent-encode (it takes 8 MB at most) is not sent empty.
      {kHttps, "invalidRequest", {}, std::nullopt, {{"access_key", "k"}, {"note", std::string(8'000'001, ' ')}}},
      // Bodies that JSON cannot carry are refused, never sent as null or mangled.
      {kHttps, encodingFailure(1, "location.altitude 不是有限数值"), {}, json{{"location", {{"altitude", nan}}}}},
      {kHttps, encodingFailure(1, "points[1].lat 不是有限数值"), {}, json{{"points", {{{"lat", 1.0}}, {{"lat", -inf}}}}}},
      {kHttps, encodingFailure(1, "请求体 不是有限数值"), {}, json(nan)},
      {kHttps, encodingFailure(2, "note 不是有效的 UTF-8 文本"), {}, json{{"name", "ok"}, {"note", "\xC3\x28"}}},
      {kHttps, encodingFailure(2, "a 的键 不是有效的 UTF-8 文本"), {}, json{{"a", {{"\xFF", 1}}}}},
  };
  for (const auto& c : cases) {
    RequestBuilder builder;
    builder.urlString = c.url;
    builder.method = HTTPMethod::post;
    builder.queryParameters = c.query;
    builder.headers = c.headers;
    builder.bodyParameters = c.body;
    const auto result = builder.makeURLRequest();  // decided here, before any I/O
    const Error* error = std::get_if<Error>(&result);
    EXPECT_EQ(error ? error->description() : "", c.refusal) << c.url;
  }
}

// What a real server receives from a built request.
class OnTheWireTest : public testing::Test {
 protected:
  void SetUp() override { server.respondToAll(CannedResponse::json(200, "{}")); }

  RecordedRequest exchange(const RequestBuilder& builder) {
    const auto delivery = sendAndWait<EmptyResponse>(built(builder));
    EXPECT_TRUE(delivery->result && delivery->result->isSuccess());
    return server.lastRequest();
  }

  TestServer server;
};

TEST_F(OnTheWireTest, QueryNamesAndValuesArriveIntact) {
  RequestBuilder builder;
  builder.urlString = server.url("/location/scenario/v1/placesearch");
  builder.queryParameters = {
      {"name", "咖啡 店"}, {"k", "a&b=c+d"}, {"a&b=c", "x y"}, {"plus", "+"}, {"pct", "100%"}, {"empty", ""}};
  const auto received = exchange(builder);
  EXPECT_EQ(received.path, "/location/scenario/v1/placesearch");
  EXPECT_EQ(received.query.size(), builder.queryParameters.size()) << received.rawQuery;
  for (const auto& [name, value] : builder.queryParameters) {
    EXPECT_EQ(received.queryValue(name), value) << name << " in " << received.rawQuery;
  }
  EXPECT_EQ(received.rawQuery.find_first_of(" +"), std::string::npos) << received.rawQuery;

  // Query parameters replace the address's query; without them it is kept as written.
  for (const auto& [address, parameters, sent] :
       std::vector<std::tuple<std::string, std::map<std::string, std::string>, std::string>>{
           {"/p?x=1&y=%2B", {}, "x=1&y=%2B"}, {"/p?old=1", {{"new", "2"}}, "new=2"}}) {
    builder.urlString = server.url(address);
    builder.queryParameters = parameters;
    EXPECT_EQ(exchange(builder).rawQuery, sent);
  }
}

TEST_F(OnTheWireTest, EachRequestSendsItsOwnMethodBodyAndOneContentType) {
  // The session reuses its handles, so every row follows another method's request.
  const std::string large(5000, 'x');  // past the size where libcurl would wait for "100 Continue"
  const struct {
    HTTPMethod method;
    const char* raw;
    std::optional<nlohmann::json> body;
    std::map<std::string, std::string> headers = {};
    std::string contentType = "application/json";
  } rows[] = {
      {HTTPMethod::post, "POST", nlohmann::json{{"v", large}}},
      {HTTPMethod::get, "GET", std::nullopt, {{"X-Trace", "1"}}},
      {HTTPMethod::put, "PUT", nlohmann::json{{"v", 1}}},
      {HTTPMethod::delete_, "DELETE", std::nullopt},
      {HTTPMethod::patch, "PATCH", std::nullopt, {{"Content-Type", "text/plain"}}, "text/plain"},
      {HTTPMethod::get, "GET", std::nullopt, {{"content-TYPE", "application/xml"}}, "application/xml"},
      {HTTPMethod::delete_, "DELETE", nlohmann::json{{"v", 2}}},
      {HTTPMethod::post, "POST", std::nullopt, {{"Content-Type", "text/a"}, {"content-type", "text/b"}}, "text/b"},
      {HTTPMethod::post, "POST", "plain", {{"content-type", "text/plain; charset=utf-8"}}, "text/plain; charset=utf-8"},
      {HTTPMethod::get, "GET", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.raw) + (row.body ? " with body, " : ", ") + row.contentType);
    EXPECT_EQ(httpMethodFromRawValue(row.raw), row.method);
    RequestBuilder builder;
    builder.urlString = server.url("/m");
    builder.method = row.method;
    builder.bodyParameters = row.body;
    builder.headers = row.headers;
    const auto received = exchange(builder);
    EXPECT_EQ(received.method, row.raw);
    EXPECT_EQ(received.body, row.body ? row.body->dump() : "");
    const bool carriesBody = row.body || row.method == HTTPMethod::post || row.method == HTTPMethod::put ||
                             row.method == HTTPMethod::patch;
    EXPECT_EQ(received.header("Content-Length"),
              carriesBody ? std::optional(std::to_string(received.body.size())) : std::nullopt);
    EXPECT_EQ(received.headerCount("Content-Type"), 1u);
    EXPECT_EQ(received.header("Content-Type"), row.contentType);
    EXPECT_EQ(received.header("X-Trace").has_value(), row.headers.contains("X-Trace"));
    EXPECT_FALSE(received.header("Accept-Encoding") || received.header("Expect"));
  }
  EXPECT_EQ(server.connectionCount(), 1u) << "sequential requests keep one connection alive";
  for (const char* other : {"get", "Post", "HEAD", "", "GET "}) {
    EXPECT_EQ(httpMethodFromRawValue(other), std::nullopt) << other;
  }
}

}  // namespace
}  // namespace tovik::test
