#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "network_test_support.h"
#include "support/test_server.h"
#include "tovik/network/empty_response.h"
#include "tovik/network/network_error.h"

namespace tovik::test {
namespace {

const Error* failureOf(const RequestBuilder::Result& result) { return std::get_if<Error>(&result); }

struct UrlCase {
  std::string url;
  bool accepted;
};

void PrintTo(const UrlCase& c, std::ostream* os) { *os << (c.url.empty() ? "<empty>" : c.url); }

class UrlTable : public testing::TestWithParam<UrlCase> {};

TEST_P(UrlTable, OnlyHttpsOrLoopbackHttpBuilds) {
  RequestBuilder builder;
  builder.urlString = GetParam().url;
  builder.queryParameters = {{"access_key", "k"}};
  const auto result = builder.makeURLRequest();
  if (GetParam().accepted) {
    EXPECT_EQ(failureOf(result), nullptr) << failureOf(result)->description();
  } else {
    ASSERT_NE(failureOf(result), nullptr);
    EXPECT_TRUE(NetworkError::is(*failureOf(result), NetworkError::Case::invalidURL));
    EXPECT_EQ(failureOf(result)->localizedDescription(), "无效的URL");
    EXPECT_EQ(failureOf(result)->description(), "invalidURL");
  }
}

INSTANTIATE_TEST_SUITE_P(RequestBuilder, UrlTable,
                         testing::Values(UrlCase{"https://loc.example.com/location/hub/v1/track_points", true},
                                         UrlCase{"http://127.0.0.1:8600/p", true},
                                         UrlCase{"http://127.9.8.7/p", true},
                                         UrlCase{"http://localhost:1/p", true},
                                         UrlCase{"HTTP://LocalHost/p", true},
                                         UrlCase{"http://[::1]:8600/p", true},
                                         UrlCase{"http://loc.example.com/p", false},
                                         UrlCase{"http://10.0.0.1/p", false},
                                         UrlCase{"http://128.0.0.1/p", false},
                                         UrlCase{"http://localhost.example.com/p", false},
                                         UrlCase{"http://[::2]/p", false},
                                         UrlCase{"ftp://127.0.0.1/p", false},
                                         UrlCase{"file:///etc/passwd", false},
                                         UrlCase{"", false},
                                         UrlCase{"not a url", false},
                                         UrlCase{"//127.0.0.1/p", false},
                                         UrlCase{"https://exa mple.com/", false},
                                         UrlCase{"https://", false}));

struct HeaderCase {
  std::map<std::string, std::string> headers;
  std::string contentType;
  std::size_t fieldCount;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.contentType; }

class ContentTypeTable : public testing::TestWithParam<HeaderCase> {};

TEST_P(ContentTypeTable, DefaultsOnlyWhenAbsentInAnyCase) {
  RequestBuilder builder;
  builder.urlString = "https://h.example.com/p";
  builder.headers = GetParam().headers;
  const URLRequest request = built(builder);
  EXPECT_EQ(request.headers.value("Content-Type"), GetParam().contentType);
  EXPECT_EQ(request.headers.size(), GetParam().fieldCount);
  EXPECT_FALSE(request.httpBody.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    RequestBuilder, ContentTypeTable,
    testing::Values(HeaderCase{{}, "application/json", 1},
                    HeaderCase{{{"X-Trace", "1"}}, "application/json", 2},
                    HeaderCase{{{"Content-Type", "text/plain"}}, "text/plain", 1},
                    HeaderCase{{{"content-TYPE", "application/xml"}}, "application/xml", 1},
                    HeaderCase{{{"Content-Type", "text/a"}, {"content-type", "text/b"}}, "text/b", 1}));

TEST(RequestBuilderTest, RefusesHeaderFieldsThatWouldSplitTheRequest) {
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"X-Evil", "a\r\nHost: other"}, {"X-Evil", std::string("a\0b", 3)}, {"Bad Name", "v"}, {"", "v"}}) {
    RequestBuilder builder;
    builder.urlString = "https://h.example.com/p";
    builder.headers = {{name, value}};
    const auto result = builder.makeURLRequest();
    ASSERT_NE(failureOf(result), nullptr) << name;
    EXPECT_TRUE(NetworkError::is(*failureOf(result), NetworkError::Case::invalidRequest));
  }
}

struct BodyCase {
  std::string name;
  nlohmann::json body;
  std::string localized;
};

void PrintTo(const BodyCase& c, std::ostream* os) { *os << c.name; }

class UnencodableBodyTable : public testing::TestWithParam<BodyCase> {};

TEST_P(UnencodableBodyTable, FailsWithTheEncoderErrorNamingThePlace) {
  RequestBuilder builder;
  builder.urlString = "https://h.example.com/p";
  builder.method = HTTPMethod::post;
  builder.bodyParameters = GetParam().body;
  const auto result = builder.makeURLRequest();
  ASSERT_NE(failureOf(result), nullptr);
  EXPECT_EQ(failureOf(result)->domain(), RequestBuilder::kEncodingErrorDomain);
  EXPECT_FALSE(NetworkError::caseOf(*failureOf(result)).has_value());
  EXPECT_EQ(failureOf(result)->localizedDescription(), GetParam().localized);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    RequestBuilder, UnencodableBodyTable,
    testing::Values(
        BodyCase{"NaNMember", {{"location", {{"altitude", kNaN}}}}, "数据编码失败：location.altitude 不是有限数值"},
        BodyCase{"InfinityInArray",
                 {{"points", {{{"lat", 1.0}}, {{"lat", -kInf}}}}},
                 "数据编码失败：points[1].lat 不是有限数值"},
        BodyCase{"NaNAtTop", kNaN, "数据编码失败：请求体 不是有限数值"},
        BodyCase{"InvalidUtf8Value", {{"name", "ok"}, {"note", "\xC3\x28"}}, "数据编码失败：note 不是有效的 UTF-8 文本"},
        BodyCase{"InvalidUtf8Key", {{"a", {{"\xFF", 1}}}}, "数据编码失败：a 的键 不是有效的 UTF-8 文本"}),
    [](const auto& info) { return info.param.name; });

TEST(HTTPMethodTest, RawValuesRoundTripExactly) {
  const std::vector<std::pair<HTTPMethod, std::string>> table = {{HTTPMethod::get, "GET"},
                                                                 {HTTPMethod::post, "POST"},
                                                                 {HTTPMethod::put, "PUT"},
                                                                 {HTTPMethod::delete_, "DELETE"},
                                                                 {HTTPMethod::patch, "PATCH"}};
  for (const auto& [method, raw] : table) {
    EXPECT_EQ(rawValue(method), raw);
    EXPECT_EQ(httpMethodFromRawValue(raw), method);
  }
  for (const char* other : {"get", "Post", "HEAD", "", "GET "}) {
    EXPECT_EQ(httpMethodFromRawValue(other), std::nullopt) << other;
  }
}

TEST(NetworkErrorTest, CasesCarryTheirTextsAndNames) {
  const std::vector<std::tuple<Error, NetworkError::Case, std::string, std::string>> table = {
      {NetworkError::invalidURL(), NetworkError::Case::invalidURL, "无效的URL", "invalidURL"},
      {NetworkError::invalidRequest(), NetworkError::Case::invalidRequest, "无效的请求", "invalidRequest"},
      {NetworkError::encodingFailed(), NetworkError::Case::encodingFailed, "数据编码失败", "encodingFailed"},
      {NetworkError::decodingFailed(), NetworkError::Case::decodingFailed, "数据解码失败", "decodingFailed"},
      {NetworkError::networkError(Error("URLError", 28, "请求超时")), NetworkError::Case::networkError, "请求超时",
       "networkError(Error Domain=URLError Code=28 \"请求超时\")"},
  };
  for (const auto& [error, kind, text, description] : table) {
    EXPECT_EQ(NetworkError::caseOf(error), kind);
    EXPECT_EQ(error.localizedDescription(), text);
    EXPECT_EQ(error.description(), description);
  }
  EXPECT_EQ(NetworkError::caseOf(Error("NetworkClient", 2, "x")), std::nullopt);
  EXPECT_EQ(NetworkError::caseOf(Error("NetworkError", 9, "x")), std::nullopt);
}

// What the server receives from a built request.
class OnTheWireTest : public testing::Test {
 protected:
  RecordedRequest exchange(RequestBuilder builder) {
    const auto delivery = sendAndWait<EmptyResponse>(built(builder));
    EXPECT_TRUE(delivery->result && delivery->result->isSuccess());
    return server.lastRequest();
  }

  RequestBuilder builderFor(std::string path) {
    RequestBuilder builder;
    builder.urlString = server.url(path);
    return builder;
  }

  TestServer server;

  void SetUp() override { server.respondToAll(CannedResponse::json(200, "{}")); }
};

TEST_F(OnTheWireTest, QueryNamesAndValuesArriveIntact) {
  auto builder = builderFor("/location/scenario/v1/placesearch");
  builder.queryParameters = {
      {"name", "咖啡 店"}, {"k", "a&b=c+d"}, {"a&b=c", "x y"}, {"plus", "+"}, {"pct", "100%"}, {"empty", ""}};
  const auto received = exchange(builder);

  EXPECT_EQ(received.path, "/location/scenario/v1/placesearch");
  EXPECT_EQ(received.query.size(), builder.queryParameters.size()) << received.rawQuery;
  for (const auto& [name, value] : builder.queryParameters) {
    EXPECT_EQ(received.queryValue(name), value) << name << " in " << received.rawQuery;
  }
  EXPECT_EQ(received.rawQuery.find_first_of(" +"), std::string::npos) << received.rawQuery;
}

TEST_F(OnTheWireTest, EmptyQueryParametersKeepTheAddressQuery) {
  auto builder = builderFor("/p?x=1&y=%2B");
  EXPECT_EQ(exchange(builder).rawQuery, "x=1&y=%2B");
}

TEST_F(OnTheWireTest, QueryParametersReplaceTheAddressQuery) {
  auto builder = builderFor("/p?old=1");
  builder.queryParameters = {{"new", "2"}};
  EXPECT_EQ(exchange(builder).rawQuery, "new=2");
}

TEST_F(OnTheWireTest, GetCarriesContentTypeButNoBody) {
  const auto received = exchange(builderFor("/location/scenario/v1/geocode"));
  EXPECT_EQ(received.method, "GET");
  EXPECT_EQ(received.body, "");
  EXPECT_EQ(received.headerCount("Content-Type"), 1u);
  EXPECT_EQ(received.header("Content-Type"), "application/json");
  EXPECT_FALSE(received.header("Accept-Encoding").has_value());
  EXPECT_FALSE(received.header("Expect").has_value());
}

TEST_F(OnTheWireTest, UserContentTypeInOtherCaseIsSentOnce) {
  auto builder = builderFor("/p");
  builder.method = HTTPMethod::post;
  builder.headers = {{"content-type", "text/plain; charset=utf-8"}};
  builder.bodyParameters = "plain";
  const auto received = exchange(builder);
  EXPECT_EQ(received.headerCount("Content-Type"), 1u);
  EXPECT_EQ(received.header("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(received.body, "\"plain\"");
}

TEST_F(OnTheWireTest, EachRequestSendsOnlyItsOwnMethodAndBody) {
  // The session reuses its handles, so every row follows another method's request.
  const std::string large(5000, 'x');  // past the size where libcurl would wait for "100 Continue"
  const std::vector<std::pair<HTTPMethod, std::optional<nlohmann::json>>> sequence = {
      {HTTPMethod::post, nlohmann::json{{"v", large}}}, {HTTPMethod::get, std::nullopt},
      {HTTPMethod::put, nlohmann::json{{"v", 1}}},      {HTTPMethod::delete_, std::nullopt},
      {HTTPMethod::patch, std::nullopt},                {HTTPMethod::get, std::nullopt},
      {HTTPMethod::delete_, nlohmann::json{{"v", 2}}},  {HTTPMethod::post, std::nullopt},
      {HTTPMethod::get, std::nullopt}};
  for (const auto& [method, body] : sequence) {
    auto builder = builderFor("/m");
    builder.method = method;
    builder.bodyParameters = body;
    const auto received = exchange(builder);
    SCOPED_TRACE(std::string(rawValue(method)) + (body ? " with body" : ""));
    EXPECT_EQ(received.method, rawValue(method));
    EXPECT_EQ(received.body, body ? body->dump() : "");
    const bool carriesBody = body || method == HTTPMethod::post || method == HTTPMethod::put || method == HTTPMethod::patch;
    EXPECT_EQ(received.header("Content-Length"),
              carriesBody ? std::optional(std::to_string(received.body.size())) : std::nullopt);
  }
}

}  // namespace
}  // namespace tovik::test
