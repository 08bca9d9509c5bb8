#include "tovik/services/service_request.h"

#include <atomic>

namespace tovik {
namespace {

std::atomic<double>& timeoutSetting() {
  static std::atomic<double> seconds{RequestBuilder::kDefaultTimeoutInterval};
  return seconds;
}

}  // namespace

RequestBuilder ServiceRequest::builder(std::string_view serviceURL) const {
  return RequestBuilder{.urlString = endpoint(serviceURL, path),
                        .method = method,
                        .headers = {},
                        .queryParameters = queryParameters,
                        .bodyParameters = body,
                        .timeoutInterval = timeoutInterval()};
}

std::string ServiceRequest::endpoint(std::string_view serviceURL, std::string_view path) {
  if (serviceURL.ends_with('/')) {
    serviceURL.remove_suffix(1);
  }
  std::string url(serviceURL);
  url += path;
  return url;
}

double ServiceRequest::timeoutInterval() { return timeoutSetting().load(std::memory_order_relaxed); }

void ServiceRequest::setTimeoutIntervalForTesting(std::optional<double> seconds) {
  timeoutSetting().store(seconds.value_or(RequestBuilder::kDefaultTimeoutInterval), std::memory_order_relaxed);
}

}  // namespace tovik
