#include "tovik/services/scenario_search.h"

#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "tovik/services/module_keys.h"
#include "tovik/model/geocode_res.h"
#include "tovik/services/service_call.h"

namespace tovik {
namespace {

using Answer = ScenarioSearch::Answer;
using QueryItems = std::map<std::string, std::string>;

/// What tells the three calls apart once their query is filled.
struct Profile {
  std::string_view path;
  CallerHold hold;
  SuccessOrder order;
};

constexpr Profile kGeocode{.path = "/location/scenario/v1/geocode",
                           .hold = CallerHold::weak,
                           .order = SuccessOrder::logThenCallback};

constexpr Profile kPlaceSearch{.path = "/location/scenario/v1/placesearch",
                               .hold = CallerHold::strong,
                               .order = SuccessOrder::callbackThenLog};

constexpr Profile kNearbySearch{.path = "/location/scenario/v1/nearbysearch",
                                .hold = CallerHold::strong,
                                .order = SuccessOrder::callbackThenLog};

void send(const ServiceCaller& caller, QueryItems query, const Profile& profile, Recipient<Answer> recipient) {
  const ServiceRequest request{
      .method = HTTPMethod::get, .path = profile.path, .queryParameters = std::move(query), .body = std::nullopt};

  DeliveryRules<Answer> rules;
  rules.hold = profile.hold;
  rules.order = profile.order;
  rules.logRequest = [](const URLRequest& built) {
    sdkLog("请求URL：" + (built.url.empty() ? std::string("无效URL") : built.url));
  };
  rules.failureLine = [](const Error& error, int status) {
    return "请求失败，状态码：" + std::to_string(status) + "，错误：" + error.localizedDescription();
  };
  rules.successLine = [](const Answer& list, int status) {
    return "请求成功，状态码：" + std::to_string(status) + "，返回" + std::to_string(list.size()) + "条结果";
  };
  rules.deliverSuccess = [](const Recipient<Answer>& to, const Answer& list, int) { to.onResult(list); };
  ServiceCall<Answer>::start(caller, request, std::move(rules), std::move(recipient));
}

}  // namespace

void ScenarioSearch::getGeocCode(const ServiceCaller& caller, const std::string& address, const std::string& city,
                                 Recipient<Answer> recipient) {
  send(caller, {{"access_key", moduleAccessKey()}, {"address", address}, {"city", city}}, kGeocode,
       std::move(recipient));
}

void ScenarioSearch::poiKeySearch(const ServiceCaller& caller, const std::string& name,
                                  const std::string& city_code, const std::string& city, std::int32_t page_index,
                                  std::int32_t page_size, Recipient<Answer> recipient) {
  send(caller,
       {{"access_key", modulePoiKey()},
        {"name", name},
        {"city", city},
        {"city_code", city_code},
        {"page_index", std::to_string(page_index)},
        {"page_size", std::to_string(page_size)}},
       kPlaceSearch, std::move(recipient));
}

void ScenarioSearch::poiNearbySearch(const ServiceCaller& caller, const std::string& keywords,
                                     const std::string& location, std::int32_t radius, const std::string& category,
                                     const std::string& orderby, std::int32_t page_index, std::int32_t page_size,
                                     Recipient<Answer> recipient) {
  // The service names the keywords "name", as the keyword search does.
  send(caller,
       {{"access_key", modulePoiKey()},
        {"name", keywords},
        {"location", location},
        {"radius", std::to_string(radius)},
        {"category", category},
        {"orderby", orderby},
        {"page_index", std::to_string(page_index)},
        {"page_size", std::to_string(page_size)}},
       kNearbySearch, std::move(recipient));
}

}  // namespace tovik
