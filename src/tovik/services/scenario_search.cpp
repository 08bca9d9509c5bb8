#include "tovik/services/scenario_search.h"

#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "tovik/client/module_keys.h"
#include "tovik/model/geocode_res.h"
#include "tovik/services/service_call.h"

namespace tovik {
namespace {

using Answer = std::vector<std::shared_ptr<GeocodeRes>>;
using ResultMember = void (LocationDelegate::*)(const Answer&);
using QueryItems = std::map<std::string, std::string>;

/// What tells the three calls apart once their query is filled.
struct Profile {
  std::string_view path;
  FacadeHold hold;
  SuccessOrder order;
  ResultMember onResult;
};

constexpr Profile kGeocode{.path = "/location/scenario/v1/geocode",
                           .hold = FacadeHold::weak,
                           .order = SuccessOrder::logThenCallback,
                           .onResult = &LocationDelegate::onReceivedGeocodeWithResult};

constexpr Profile kPlaceSearch{.path = "/location/scenario/v1/placesearch",
                               .hold = FacadeHold::strong,
                               .order = SuccessOrder::callbackThenLog,
                               .onResult = &LocationDelegate::onReceivedPoiSearchWithResult};

constexpr Profile kNearbySearch{.path = "/location/scenario/v1/nearbysearch",
                                .hold = FacadeHold::strong,
                                .order = SuccessOrder::callbackThenLog,
                                .onResult = &LocationDelegate::onReceivedPoiSearchWithResult};

void send(TkClientLocation& facade, QueryItems query, const Profile& profile) {
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
  rules.deliverSuccess = [onResult = profile.onResult](LocationDelegate& delegate, const Answer& list, int) {
    (delegate.*onResult)(list);
  };
  ServiceCall<Answer>::start(facade, request, std::move(rules));
}

}  // namespace

void ScenarioSearch::getGeocCode(TkClientLocation& facade, const std::string& address, const std::string& city) {
  if (!facade.checkPrivacyAndKey()) {
    return;
  }
  send(facade, {{"access_key", moduleAccessKey()}, {"address", address}, {"city", city}}, kGeocode);
}

void ScenarioSearch::poiKeySearch(TkClientLocation& facade, const std::string& name, const std::string& city_code,
                                  const std::string& city, std::int32_t page_index, std::int32_t page_size) {
  if (!facade.checkPrivacyAndKey()) {
    return;
  }
  send(facade,
       {{"access_key", modulePoiKey()},
        {"name", name},
        {"city", city},
        {"city_code", city_code},
        {"page_index", std::to_string(page_index)},
        {"page_size", std::to_string(page_size)}},
       kPlaceSearch);
}

void ScenarioSearch::poiNearbySearch(TkClientLocation& facade, const std::string& keywords,
                                     const std::string& location, std::int32_t radius, const std::string& category,
                                     const std::string& orderby, std::int32_t page_index, std::int32_t page_size) {
  if (!facade.checkPrivacyAndKey()) {
    return;
  }
  // The service names the keywords "name", as the keyword search does.
  send(facade,
       {{"access_key", modulePoiKey()},
        {"name", keywords},
        {"location", location},
        {"radius", std::to_string(radius)},
        {"category", category},
        {"orderby", orderby},
        {"page_index", std::to_string(page_index)},
        {"page_size", std::to_string(page_size)}},
       kNearbySearch);
}

}  // namespace tovik
