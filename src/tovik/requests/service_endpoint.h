#pragma once

#include <array>
#include <span>
#include <string_view>

#include "tovik/system/tk_error.h"

namespace tovik {

/// Where the value of a query item comes from when the kit sends it.
enum class QuerySource {
  /// The process-wide key the endpoint names (`ServiceEndpoint::key`).
  key,
  /// The caller's next argument, in the order the items are listed.
  argument,
  /// Always `QueryItem::value`.
  fixed,
};

/// One query item of an endpoint. For an argument, `value` is what the service assumes when
/// the item is missing or empty (empty: nothing to assume).
struct QueryItem {
  std::string_view name;
  QuerySource source;
  std::string_view value;
};

/// Which process-wide key a call carries as "access_key".
enum class KeyKind { access, poi };

/// How a request in flight refers to its caller's holder.
enum class CallerHold {
  /// The holder may go away meanwhile; its outcome then reaches nobody.
  weak,
  /// The holder is kept until the outcome has been delivered.
  strong,
};

/// Which successful statuses count as a result: only 200 (any other 2xx reaches the
/// recipient as an error holding the status), or every 2xx.
enum class SuccessRule { only200, any2xx };

/// How a call writes its log: `exchange` logs the body before sending and one line with
/// the error's description and the status after; `search` logs the URL before sending and
/// the status with the error's text or the number of results after.
enum class LogStyle { exchange, search };

/// Whether a success is logged before or after the recipient hears of it.
enum class SuccessOrder { logThenCallback, callbackThenLog };

/// One call of the location service, as the kit sends it and the reference service answers
/// it: the wire contract, and how the kit holds, judges and logs the call. Both sides read
/// these rows, so the contract is written once.
struct ServiceEndpoint {
  /// The operation a typed error names.
  TkCall call;
  /// "GET" or "POST".
  std::string_view method;
  std::string_view path;
  /// Every item is always sent, each name once.
  std::span<const QueryItem> query;
  KeyKind key;
  CallerHold hold;
  SuccessRule success;
  LogStyle log;
  SuccessOrder order;
  /// For `LogStyle::exchange`: the line before the body, and the beginnings of the failure
  /// and success lines.
  std::string_view bodyLabel;
  std::string_view failurePrefix;
  std::string_view successPrefix;

  /// The item called `name`, found while compiling: a name the row lacks does not compile,
  /// so the service cannot read an item the kit never sends.
  consteval const QueryItem& item(std::string_view name) const {
    for (const QueryItem& candidate : query) {
      if (candidate.name == name) {
        return candidate;
      }
    }
    throw "no such query item";  // not a constant expression: a compile error
  }
};

namespace endpoint_items {
/// An item the caller fills, with what the service assumes without it.
constexpr QueryItem argument(std::string_view name, std::string_view assumed = {}) {
  return QueryItem{name, QuerySource::argument, assumed};
}
inline constexpr std::string_view kKeyName = "access_key";
inline constexpr QueryItem kKey{kKeyName, QuerySource::key, {}};
inline constexpr QueryItem kGcj02Answer{"response_sprf", QuerySource::fixed, "gcj02"};

inline constexpr std::array kTrackLocation{kKey, kGcj02Answer, QueryItem{"needAddress", QuerySource::fixed, "true"}};
inline constexpr std::array kReverseGeocode{kKey, kGcj02Answer};
inline constexpr std::array kGeocode{kKey, argument("address"), argument("city")};
inline constexpr std::array kPlaceSearch{kKey,
                                         argument("name"),
                                         argument("city_code"),
                                         argument("city"),
                                         argument("page_index", "1"),
                                         argument("page_size", "10")};
// The service names the keywords "name", as the keyword search does.
inline constexpr std::array kNearbySearch{kKey,
                                          argument("name"),
                                          argument("location"),
                                          argument("radius", "1000"),
                                          argument("category"),
                                          argument("orderby"),
                                          argument("page_index", "1"),
                                          argument("page_size", "10")};
}  // namespace endpoint_items

namespace endpoint_rows {
/// A POST to the track-points path answered by one `LocationRes`, of which only status 200
/// counts as a result; the body is logged before, one line with the error or status after.
constexpr ServiceEndpoint trackPoints(TkCall call, std::span<const QueryItem> query, std::string_view bodyLabel,
                                      std::string_view failurePrefix, std::string_view successPrefix) {
  return ServiceEndpoint{.call = call,
                         .method = "POST",
                         .path = "/location/hub/v1/track_points",
                         .query = query,
                         .key = KeyKind::access,
                         .hold = CallerHold::weak,
                         .success = SuccessRule::only200,
                         .log = LogStyle::exchange,
                         .order = SuccessOrder::logThenCallback,
                         .bodyLabel = bodyLabel,
                         .failurePrefix = failurePrefix,
                         .successPrefix = successPrefix};
}

/// A GET answered by a list of `GeocodeRes`; the URL is logged before, the status with the
/// error or the number of results after.
constexpr ServiceEndpoint search(TkCall call, std::string_view path, std::span<const QueryItem> query, KeyKind key,
                                 CallerHold hold, SuccessOrder order) {
  return ServiceEndpoint{.call = call,
                         .method = "GET",
                         .path = path,
                         .query = query,
                         .key = key,
                         .hold = hold,
                         .success = SuccessRule::any2xx,
                         .log = LogStyle::search,
                         .order = order,
                         .bodyLabel = {},
                         .failurePrefix = {},
                         .successPrefix = {}};
}
}  // namespace endpoint_rows

inline constexpr ServiceEndpoint kTrackLocationEndpoint = endpoint_rows::trackPoints(
    TkCall::location, endpoint_items::kTrackLocation, "\n融合定位请求Body:", "融合定位失败: ", "融合定位成功，状态码: ");
inline constexpr ServiceEndpoint kReverseGeocodeEndpoint = endpoint_rows::trackPoints(
    TkCall::reverseGeocode, endpoint_items::kReverseGeocode, "\n逆地理编码请求Body:", "逆地理编码失败: ", "逆地理编码成功，状态码: ");
inline constexpr ServiceEndpoint kGeocodeEndpoint =
    endpoint_rows::search(TkCall::geocode, "/location/scenario/v1/geocode", endpoint_items::kGeocode, KeyKind::access, CallerHold::weak,
                          SuccessOrder::logThenCallback);
// The place searches keep their caller until they have answered, and log after the callback.
inline constexpr ServiceEndpoint kPlaceSearchEndpoint =
    endpoint_rows::search(TkCall::placeSearch, "/location/scenario/v1/placesearch", endpoint_items::kPlaceSearch, KeyKind::poi,
                          CallerHold::strong, SuccessOrder::callbackThenLog);
inline constexpr ServiceEndpoint kNearbySearchEndpoint =
    endpoint_rows::search(TkCall::nearbySearch, "/location/scenario/v1/nearbysearch", endpoint_items::kNearbySearch, KeyKind::poi,
                          CallerHold::strong, SuccessOrder::callbackThenLog);

}  // namespace tovik
