#include "tovik/services/service_call.h"

#include <atomic>
#include <map>

#include "tovik/network/logged_url.h"
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
