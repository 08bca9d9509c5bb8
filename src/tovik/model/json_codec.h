#pragma once

#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovik/model/address.h"
#include "tovik/model/address_context.h"
#include "tovik/model/address_info.h"
#include "tovik/model/decoding_error.h"
#include "tovik/model/distance_info.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_detail.h"
#include "tovik/model/location_res.h"
#include "tovik/model/place_info.h"
#include "tovik/model/position.h"
#include "tovik/model/tk_category.h"
#include "tovik/model/tk_point.h"

namespace tovik {

/// The JSON form of a result class, kept out of the public headers so that the kit's users
/// never compile nlohmann/json. Each result class's own .cpp defines its specialisation:
/// - `static std::shared_ptr<T> decode(const nlohmann::json&)` reads strictly (JsonFields'
///   rules) and throws `DecodingError` naming the path of the fault; it never returns a
///   partly filled object;
/// - `static nlohmann::json encode(const T&)` writes the same shape back; a required nested
///   member the application cleared is written as null, an absent optional one is left out.
/// The JSON shape of each class is documented on the class.
template <class T>
struct JsonCodec;

template <>
struct JsonCodec<Address> {
  static std::shared_ptr<Address> decode(const nlohmann::json& json);
  static nlohmann::json encode(const Address& address);
};

template <>
struct JsonCodec<AddressContext> {
  static std::shared_ptr<AddressContext> decode(const nlohmann::json& json);
  static nlohmann::json encode(const AddressContext& context);
};

template <>
struct JsonCodec<AddressInfo> {
  static std::shared_ptr<AddressInfo> decode(const nlohmann::json& json);
  static nlohmann::json encode(const AddressInfo& info);
};

template <>
struct JsonCodec<DistanceInfo> {
  static std::shared_ptr<DistanceInfo> decode(const nlohmann::json& json);
  static nlohmann::json encode(const DistanceInfo& distance);
};

/// A missing or null "categories" leaves `categories` absent, and encoding leaves it out.
template <>
struct JsonCodec<GeocodeRes> {
  static std::shared_ptr<GeocodeRes> decode(const nlohmann::json& json);
  static nlohmann::json encode(const GeocodeRes& result);
};

/// A missing or null "address" or "place" leaves that member null, and encoding leaves a
/// null one out.
template <>
struct JsonCodec<LocationDetail> {
  static std::shared_ptr<LocationDetail> decode(const nlohmann::json& json);
  static nlohmann::json encode(const LocationDetail& detail);
};

template <>
struct JsonCodec<LocationRes> {
  static std::shared_ptr<LocationRes> decode(const nlohmann::json& json);
  static nlohmann::json encode(const LocationRes& result);
};

template <>
struct JsonCodec<PlaceInfo> {
  static std::shared_ptr<PlaceInfo> decode(const nlohmann::json& json);
  static nlohmann::json encode(const PlaceInfo& place);
};

template <>
struct JsonCodec<Position> {
  static std::shared_ptr<Position> decode(const nlohmann::json& json);
  static nlohmann::json encode(const Position& position);
};

template <>
struct JsonCodec<TkCategory> {
  static std::shared_ptr<TkCategory> decode(const nlohmann::json& json);
  static nlohmann::json encode(const TkCategory& category);
};

template <>
struct JsonCodec<TkPoint> {
  static std::shared_ptr<TkPoint> decode(const nlohmann::json& json);
  static nlohmann::json encode(const TkPoint& point);
};

/// Decodes a whole geocoding or place-search answer: the top level must be an array, and
/// every element must decode, or the whole answer fails (the error path names the failing
/// index). Keeps the order.
std::vector<std::shared_ptr<GeocodeRes>> decodeGeocodeList(const nlohmann::json& json);
/// The matching array; a null element is written as null.
nlohmann::json encodeGeocodeList(const std::vector<std::shared_ptr<GeocodeRes>>& list);

}  // namespace tovik
