#include "tovik/services/location_exchange.h"

#include <map>
#include <string>
#include <string_view>

#include "tovik/client/module_keys.h"
#include "tovik/model/location_res.h"
#include "tovik/network/utf8.h"
#include "tovik/platform/device.h"
#include "tovik/services/reverse_geo_request.h"
#include "tovik/services/service_call.h"
#include "tovik/services/track_request.h"

namespace tovik {
namespace {

constexpr std::string_view kTrackPointsPath = "/location/hub/v1/track_points";

using Answer = std::shared_ptr<LocationRes>;
using ResultMember = void (LocationDelegate::*)(const Answer&);

/// What tells the two calls apart once their body is assembled.
struct Profile {
  std::string_view bodyLabel;
  std::string_view failurePrefix;
  std::string_view successPrefix;
  bool needAddress;
  ResultMember onResult;
};

constexpr Profile kTrack{.bodyLabel = "\n融合定位请求Body:",
                         .failurePrefix = "融合定位失败: ",
                         .successPrefix = "融合定位成功，状态码: ",
                         .needAddress = true,
                         .onResult = &LocationDelegate::onReceivedLocationWithTkLocation};

constexpr Profile kReverse{.bodyLabel = "\n逆地理编码请求Body:",
                           .failurePrefix = "逆地理编码失败: ",
                           .successPrefix = "逆地理编码成功，状态码: ",
                           .needAddress = false,
                           .onResult = &LocationDelegate::onReceivedReverseCodeWithTkLocation};

void send(TkClientLocation& facade, nlohmann::json body, const Profile& profile) {
  ServiceRequest request{.method = HTTPMethod::post,
                         .path = kTrackPointsPath,
                         .queryParameters = {{"access_key", moduleAccessKey()}, {"response_sprf", "gcj02"}},
                         .body = std::move(body)};
  if (profile.needAddress) {
    request.queryParameters.emplace("needAddress", "true");
  }

  DeliveryRules<Answer> rules;
  rules.hold = FacadeHold::weak;
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
  rules.deliverSuccess = [profile](LocationDelegate& delegate, const Answer& answer, int status) {
    if (status == 200) {
      (delegate.*profile.onResult)(answer);
    } else {
      delegate.onLocationErrorWithMsg(std::to_string(status));
    }
  };
  ServiceCall<Answer>::start(facade, request, std::move(rules));
}

}  // namespace

void LocationExchange::getTrackLocation(TkClientLocation& facade, const Location& fix) {
  if (!facade.checkPrivacyAndKey()) {
    return;
  }
  send(facade, TrackRequest::assemble(fix, Device::current()).encode(), kTrack);
}

void LocationExchange::getReverseCode(TkClientLocation& facade, double latitude, double longitude) {
  if (!facade.checkPrivacyAndKey()) {
    return;
  }
  send(facade, ReverseGeoRequest::assemble(latitude, longitude, Device::current()).encode(), kReverse);
}

}  // namespace tovik
