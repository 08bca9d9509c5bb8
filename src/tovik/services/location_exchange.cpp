#include "tovik/services/location_exchange.h"

#include <map>
#include <string>
#include <string_view>

#include "tovik/services/module_keys.h"
#include "tovik/model/location_res.h"
#include "tovik/network/utf8.h"
#include "tovik/system/device.h"
#include "tovik/requests/reverse_geo_request.h"
#include "tovik/services/service_call.h"
#include "tovik/requests/track_request.h"

namespace tovik {
namespace {

constexpr std::string_view kTrackPointsPath = "/location/hub/v1/track_points";

using Answer = LocationExchange::Answer;

/// What tells the two calls apart once their body is assembled.
struct Profile {
  std::string_view bodyLabel;
  std::string_view failurePrefix;
  std::string_view successPrefix;
  bool needAddress;
};

constexpr Profile kTrack{.bodyLabel = "\n融合定位请求Body:",
                         .failurePrefix = "融合定位失败: ",
                         .successPrefix = "融合定位成功，状态码: ",
                         .needAddress = true};

constexpr Profile kReverse{.bodyLabel = "\n逆地理编码请求Body:",
                           .failurePrefix = "逆地理编码失败: ",
                           .successPrefix = "逆地理编码成功，状态码: ",
                           .needAddress = false};

void send(const ServiceCaller& caller, nlohmann::json body, const Profile& profile, Recipient<Answer> recipient) {
  ServiceRequest request{.method = HTTPMethod::post,
                         .path = kTrackPointsPath,
                         .queryParameters = {{"access_key", moduleAccessKey()}, {"response_sprf", "gcj02"}},
                         .body = std::move(body)};
  if (profile.needAddress) {
    request.queryParameters.emplace("needAddress", "true");
  }

  DeliveryRules<Answer> rules;
  rules.hold = CallerHold::weak;
  rules.order = SuccessOrder::logThenCallback;
  rules.logRequest = [profile](const URLRequest& built) {
    if (built.httpBody && isValidUTF8(*built.httpBody)) {
      sdkLog(profile.bodyLabel);
      sdkLog(*built.httpBody);
    }
  };
  rules.failureLine = [profile](const Error& error, int status) {
    return std::string(profile.failurePrefix) + error.description() + "，状态码: " + std::to_string(status);
  };
  rules.successLine = [profile](const Answer&, int status) {
    return std::string(profile.successPrefix) + std::to_string(status);
  };
  rules.deliverSuccess = [](const Recipient<Answer>& to, const Answer& answer, int status) {
    if (status == 200) {
      to.onResult(answer);
    } else {
      to.onError(std::to_string(status));
    }
  };
  ServiceCall<Answer>::start(caller, request, std::move(rules), std::move(recipient));
}

}  // namespace

void LocationExchange::getTrackLocation(const ServiceCaller& caller, const Location& fix,
                                        Recipient<Answer> recipient) {
  send(caller, TrackRequest::assemble(fix, Device::current()).encode(), kTrack, std::move(recipient));
}

void LocationExchange::getReverseCode(const ServiceCaller& caller, double latitude, double longitude,
                                      Recipient<Answer> recipient) {
  send(caller, ReverseGeoRequest::assemble(latitude, longitude, Device::current()).encode(), kReverse,
       std::move(recipient));
}

}  // namespace tovik
