#include "tovik/services/service_call.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>

#include "tovik/network/logged_url.h"
#include "tovik/network/network_error.h"
#include "tovik/network/retry_after.h"
#include "tovik/network/utf8.h"
#include "tovik/services/module_keys.h"
#include "tovik/system/console.h"

namespace tovik {
namespace {

std::atomic<double>& timeoutSetting() {
  static std::atomic<double> seconds{kRequestTimeoutInterval};
  return seconds;
}

}  // namespace

RequestBuilder ServiceCall::builder(const ServiceEndpoint& endpoint, std::string_view serviceURL,
                                    const std::vector<std::string>& arguments, std::optional<nlohmann::json> body) {
  std::map<std::string, std::string> query;
  auto argument = arguments.begin();
  for (const QueryItem& item : endpoint.query) {
    std::string value;
    switch (item.source) {
      case QuerySource::key:
        value = endpoint.key == KeyKind::poi ? modulePoiKey() : moduleAccessKey();
        break;
      case QuerySource::argument:
        value = argument != arguments.end() ? *argument++ : std::string();
        break;
      case QuerySource::fixed:
        value = item.value;
        break;
    }
    query.emplace(item.name, std::move(value));
  }
  return RequestBuilder{.urlString = endpointURL(serviceURL, endpoint.path),
                        .method = httpMethodFromRawValue(endpoint.method).value_or(HTTPMethod::get),
                        .headers = {},
                        .queryParameters = std::move(query),
                        .bodyParameters = std::move(body),
                        .timeoutInterval = timeoutInterval()};
}

std::string ServiceCall::endpointURL(std::string_view serviceURL, std::string_view path) {
  if (serviceURL.ends_with('/')) {
    serviceURL.remove_suffix(1);
  }
  std::string url(serviceURL);
  url += path;
  return url;
}

double ServiceCall::timeoutInterval() { return timeoutSetting().load(std::memory_order_relaxed); }

void ServiceCall::setTimeoutIntervalForTesting(std::optional<double> seconds) {
  timeoutSetting().store(seconds.value_or(kRequestTimeoutInterval), std::memory_order_relaxed);
}

namespace {

// A wait the service asks for beyond this is not waited out: the call fails with the
// service's Retry-After for the application to act on.
constexpr double kLongestRetryWait = 30.0;
// Full-jitter back-off between attempts: up to 1 s, 2 s, 4 s, ... and never above the longest wait.
constexpr double kRetryBackoffBase = 1.0;

bool isRetryable(const Error& error, const std::optional<HTTPURLResponse>& response) {
  if (!response) {
    // Only a transport failure: a request that could not be built fails the same way again.
    return NetworkError::is(error, NetworkError::Case::networkError);
  }
  const int status = response->statusCode;
  return status == 429 || status == 502 || status == 503 || status == 504;
}

}  // namespace

std::optional<double> ServiceCall::retryWait(const Error* error, const std::optional<HTTPURLResponse>& response,
                                             int attempts, int retries, RetryBudget* budget) {
  if (error == nullptr || !isRetryable(*error, response)) {
    if (budget != nullptr && response) {
      budget->succeeded();  // answered, if not always as hoped: the service is there
    }
    return std::nullopt;
  }
  if (budget != nullptr && !budget->failedMayRetry()) {
    sdkLog("重试预算已用尽，不再重试");
    return std::nullopt;
  }
  if (attempts > retries) {
    return std::nullopt;
  }
  std::optional<double> wait;
  if (const auto asked = response ? response->headerFields.value("Retry-After") : std::nullopt) {
    wait = retryAfterSeconds(*asked, std::chrono::system_clock::now());
    if (wait && *wait > kLongestRetryWait) {
      return std::nullopt;
    }
  }
  return wait ? *wait : fullJitterDelay(kRetryBackoffBase, attempts - 1, kLongestRetryWait);
}

std::optional<std::string> ServiceCall::idempotencyKey(const ServiceEndpoint& endpoint,
                                                       const std::optional<nlohmann::json>& body) {
  if (endpoint.method != "POST" || !body || !body->is_object()) {
    return std::nullopt;
  }
  const auto id = body->find("id");
  if (id == body->end() || !id->is_string()) {
    return std::nullopt;
  }
  return id->get<std::string>();
}

void ServiceCall::logRetry(double wait, int attempt) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", wait);
  sdkLog({"请求失败，", seconds, " 秒后重试（第 ", std::to_string(attempt + 1), " 次请求）"}, "");
}

void ServiceCall::logRequest(const ServiceEndpoint& endpoint, const URLRequest& request) {
  if (endpoint.log == LogStyle::exchange) {
    if (request.httpBody && isValidUTF8(*request.httpBody)) {
      sdkLog(endpoint.bodyLabel);
      sdkLog(*request.httpBody);
    }
    return;
  }
  // The query carries the key, and the address may carry a password: neither reaches the log.
  sdkLog({"请求URL：", request.url.empty() ? std::string("无效URL") : loggedURL(request.url)}, "");
}

std::string ServiceCall::failureLine(const ServiceEndpoint& endpoint, const Error& error, int status) {
  if (endpoint.log == LogStyle::exchange) {
    return std::string(endpoint.failurePrefix) + error.description() + "，状态码: " + std::to_string(status);
  }
  return "请求失败，状态码：" + std::to_string(status) + "，错误：" + error.localizedDescription();
}

std::string ServiceCall::successLine(const ServiceEndpoint& endpoint, std::size_t results, int status) {
  if (endpoint.log == LogStyle::exchange) {
    return std::string(endpoint.successPrefix) + std::to_string(status);
  }
  return "请求成功，状态码：" + std::to_string(status) + "，返回" + std::to_string(results) + "条结果";
}

}  // namespace tovik
