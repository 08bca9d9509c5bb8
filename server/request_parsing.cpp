#include "server/request_parsing.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "server/text_match.h"
#include "tovik/model/decoding_error.h"
#include "tovik/requests/reverse_geo_request.h"
#include "tovik/requests/service_endpoint.h"
#include "tovik/requests/track_request.h"

namespace tovik::server {

namespace {

using nlohmann::json;

/// Thrown inside parsing only; every public function turns it into a `RequestError`.
struct Rejected {
  RequestError error;
};

[[noreturn]] void reject(std::string field, std::string message) {
  throw Rejected{RequestError{std::move(field), std::move(message)}};
}

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (auto& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

/// The value of a query item sent at most once; nothing when it was not sent.
std::optional<std::string> item(const QueryItems& query, const std::string& name) {
  const auto [first, last] = query.equal_range(name);
  if (first == last) {
    return std::nullopt;
  }
  if (std::next(first) != last) {
    reject(name, "\"" + name + "\" is given more than once");
  }
  return first->second;
}

/// Whether `text` is well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = byte < 0x80 ? 1 : byte >= 0xC2 && byte <= 0xDF ? 2 : byte >= 0xE0 && byte <= 0xEF ? 3
                               : byte >= 0xF0 && byte <= 0xF4                 ? 4
                                                                               : 0;
    if (length == 0 || i + length > text.size()) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    if (length > 2) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      if ((byte == 0xE0 && second < 0xA0) || (byte == 0xED && second >= 0xA0) || (byte == 0xF0 && second < 0x90) ||
          (byte == 0xF4 && second >= 0x90)) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

std::string text(const QueryItems& query, const std::string& name) {
  std::string value = item(query, name).value_or("");
  if (value.size() > RequestParsing::kMaxText) {
    reject(name, "\"" + name + "\" is longer than " + std::to_string(RequestParsing::kMaxText) + " bytes");
  }
  if (!isUtf8(value)) {
    reject(name, "\"" + name + "\" is not valid UTF-8");
  }
  return value;
}

std::vector<std::string> searchWords(const QueryItems& query, const std::string& name, bool required) {
  auto words = TextMatch::words(text(query, name));
  if (words.empty() && required) {
    reject(name, "\"" + name + "\" must name something to search for");
  }
  if (words.size() > TextMatch::kMaxWords) {
    words.resize(TextMatch::kMaxWords);
  }
  return words;
}

int integer(const QueryItems& query, const std::string& name, int fallback, int min, int max) {
  const auto value = item(query, name);
  if (!value || value->empty()) {
    return fallback;
  }
  int number = 0;
  const char* end = value->data() + value->size();
  const auto [ptr, ec] = std::from_chars(value->data(), end, number);
  if (ec != std::errc() || ptr != end) {
    reject(name, "\"" + name + "\" is not a whole number");
  }
  if (number < min || number > max) {
    reject(name, "\"" + name + "\" must be between " + std::to_string(min) + " and " + std::to_string(max));
  }
  return number;
}

// The same, for an item of an endpoint's row (whose value is what the service assumes
// without it).
std::string text(const QueryItems& query, const QueryItem& field) { return text(query, std::string(field.name)); }

std::vector<std::string> searchWords(const QueryItems& query, const QueryItem& field, bool required) {
  return searchWords(query, std::string(field.name), required);
}

int integer(const QueryItems& query, const QueryItem& field, int min, int max) {
  int assumed = 0;
  std::from_chars(field.value.data(), field.value.data() + field.value.size(), assumed);
  return integer(query, std::string(field.name), assumed, min, max);
}

std::optional<double> decimal(std::string_view text) {
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  double value = 0.0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

void checkRange(double latitude, double longitude, const std::string& latitudeField,
                const std::string& longitudeField) {
  if (!(latitude >= -90.0 && latitude <= 90.0)) {
    reject(latitudeField, "latitude must be between -90 and 90 degrees");
  }
  if (!(longitude >= -180.0 && longitude <= 180.0)) {
    reject(longitudeField, "longitude must be between -180 and 180 degrees");
  }
}

json parseBody(std::string_view body) {
  if (body.empty()) {
    reject("body", "the request has no body");
  }
  struct TooDeep {};
  try {
    return json::parse(body, [](int depth, json::parse_event_t, json&) {
      if (depth > RequestParsing::kMaxDepth) {
        throw TooDeep{};
      }
      return true;
    });
  } catch (const TooDeep&) {
    reject("body", "the body nests deeper than " + std::to_string(RequestParsing::kMaxDepth) + " levels");
  } catch (const json::exception& error) {
    reject("body", std::string("the body is not valid JSON: ") + error.what());
  }
}

TrackPointsRequest decodeTrackBody(const json& document) {
  if (!document.is_object()) {
    reject("body", "the body must be a JSON object");
  }
  const auto asset = document.find("asset");
  TrackPointsRequest request;
  try {
    if (asset == document.end() || asset->is_null()) {
      reject("asset", "required key is missing");
    } else if (asset->is_object()) {
      const TrackRequest track = TrackRequest::decode(document);
      request.isTrack = true;
      request.id = track.id;
      request.asset = track.asset.id;
      request.latitude = track.location.gnss.point.latitude;
      request.longitude = track.location.gnss.point.longitude;
      request.datum = Datum::wgs84;
      checkRange(request.latitude, request.longitude, "location.gnss.point.latitude",
                 "location.gnss.point.longitude");
    } else if (asset->is_string()) {
      const ReverseGeoRequest reverse = ReverseGeoRequest::decode(document);
      request.isTrack = false;
      request.id = reverse.id.value_or("");
      request.asset = reverse.asset;
      const auto& position = reverse.location.position;
      request.latitude = position.point.latitude;
      request.longitude = position.point.longitude;
      request.datum = Datum::gcj02;
      if (position.spatialReference) {
        const auto datum = datumNamed(*position.spatialReference);
        if (!datum) {
          reject("location.position.spatialReference", "spatialReference must be \"gcj02\", \"wgs84\" or \"bd09\"");
        }
        request.datum = *datum;
      }
      checkRange(request.latitude, request.longitude, "location.position.point.latitude",
                 "location.position.point.longitude");
    } else {
      reject("asset", "\"asset\" must be an object (fused location) or a string (reverse geocoding)");
    }
  } catch (const DecodingError& error) {
    reject(error.path().empty() ? "body" : error.path(), error.what());
  } catch (const json::exception& error) {
    reject("body", error.what());
  }
  if (request.asset.size() > RequestParsing::kMaxText || request.id.size() > RequestParsing::kMaxText) {
    reject(request.id.size() > RequestParsing::kMaxText ? "id" : "asset",
           "identifiers are at most " + std::to_string(RequestParsing::kMaxText) + " bytes");
  }
  return request;
}

template <class Request, class Parse>
std::variant<Request, RequestError> guarded(const Parse& parse) {
  try {
    return parse();
  } catch (const Rejected& rejected) {
    return rejected.error;
  } catch (const std::exception& error) {
    return RequestError{"body", error.what()};
  }
}

}  // namespace

std::variant<TrackPointsRequest, RequestError> RequestParsing::trackPoints(std::string_view body,
                                                                           const QueryItems& query) {
  return guarded<TrackPointsRequest>([&] {
    Datum responseDatum = Datum::gcj02;
    if (const auto sprf = item(query, std::string(kTrackLocationEndpoint.item("response_sprf").name)); sprf && !sprf->empty()) {
      const auto datum = datumNamed(*sprf);
      if (!datum) {
        reject("response_sprf", "\"response_sprf\" must be \"gcj02\", \"wgs84\" or \"bd09\"");
      }
      responseDatum = *datum;
    }
    std::optional<bool> needAddress;
    if (const auto need = item(query, std::string(kTrackLocationEndpoint.item("needAddress").name))) {
      if (*need == "true") {
        needAddress = true;
      } else if (*need == "false") {
        needAddress = false;
      } else {
        reject("needAddress", "\"needAddress\" must be \"true\" or \"false\"");
      }
    }
    TrackPointsRequest request = decodeTrackBody(parseBody(body));
    request.responseDatum = responseDatum;
    request.needAddress = needAddress;
    return request;
  });
}

std::variant<GeocodeRequest, RequestError> RequestParsing::geocode(const QueryItems& query) {
  return guarded<GeocodeRequest>([&] {
    GeocodeRequest request;
    request.words = searchWords(query, kGeocodeEndpoint.item("address"), true);
    request.city = text(query, kGeocodeEndpoint.item("city"));
    return request;
  });
}

std::variant<PlaceSearchRequest, RequestError> RequestParsing::placeSearch(const QueryItems& query) {
  return guarded<PlaceSearchRequest>([&] {
    PlaceSearchRequest request;
    request.words = searchWords(query, kPlaceSearchEndpoint.item("name"), true);
    request.city = text(query, kPlaceSearchEndpoint.item("city"));
    request.cityCode = text(query, kPlaceSearchEndpoint.item("city_code"));
    request.pageIndex = integer(query, kPlaceSearchEndpoint.item("page_index"), 1, kMaxPageIndex);
    request.pageSize = integer(query, kPlaceSearchEndpoint.item("page_size"), 1, kMaxPageSize);
    return request;
  });
}

std::variant<NearbySearchRequest, RequestError> RequestParsing::nearbySearch(const QueryItems& query) {
  return guarded<NearbySearchRequest>([&] {
    NearbySearchRequest request;
    request.words = searchWords(query, kNearbySearchEndpoint.item("name"), false);
    const std::string location = text(query, kNearbySearchEndpoint.item("location"));
    const auto comma = location.find(',');
    if (location.empty()) {
      reject("location", "\"location\" is required: \"lon,lat\" in GCJ-02 degrees");
    }
    const auto longitude = comma == std::string::npos ? std::nullopt : decimal(std::string_view(location).substr(0, comma));
    const auto latitude = comma == std::string::npos ? std::nullopt : decimal(std::string_view(location).substr(comma + 1));
    if (!longitude || !latitude) {
      reject("location", "\"location\" must be \"lon,lat\" in GCJ-02 degrees, for example \"116.397,39.909\"");
    }
    checkRange(*latitude, *longitude, "location", "location");
    request.latitude = *latitude;
    request.longitude = *longitude;
    request.radius = integer(query, kNearbySearchEndpoint.item("radius"), 1, kMaxRadius);
    request.category = text(query, kNearbySearchEndpoint.item("category"));
    const std::string order = lowerAscii(text(query, kNearbySearchEndpoint.item("orderby")));
    if (order == "relevance") {
      request.orderByRelevance = true;
    } else if (!order.empty() && order != "distance") {
      reject("orderby", "\"orderby\" must be \"distance\" or \"relevance\"");
    }
    request.pageIndex = integer(query, kNearbySearchEndpoint.item("page_index"), 1, kMaxPageIndex);
    request.pageSize = integer(query, kNearbySearchEndpoint.item("page_size"), 1, kMaxPageSize);
    return request;
  });
}

}  // namespace tovik::server
