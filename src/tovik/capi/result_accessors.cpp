// Read access to results for C callers. Nothing here allocates or throws: every accessor
// reads a member of an object its root handle keeps alive, and answers NULL, 0 or NaN for
// a NULL argument or a missing member.

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tovik/capi/result_handles.h"

using tovik::capi::kitObject;
using tovik::capi::opaque;

namespace {

constexpr double kNoNumber = std::numeric_limits<double>::quiet_NaN();

template <class Handle, class Read>
auto read(const Handle* handle, Read&& reader, decltype(reader(*kitObject(handle))) fallback) {
  return handle == nullptr ? fallback : reader(*kitObject(handle));
}

template <class C, class T>
const C* elementAt(const std::vector<std::shared_ptr<T>>& list, std::size_t index) {
  return index < list.size() ? opaque<C>(list[index]) : nullptr;
}

}  // namespace

extern "C" {

// LocationRes

tk_location_res* tk_location_res_retain(const tk_location_res* result) {
  return tovik::capi::retainHandle(result);
}

void tk_location_res_release(tk_location_res* result) { tovik::capi::releaseHandle(result); }

const char* tk_location_res_id(const tk_location_res* result) {
  return result == nullptr || !result->value ? nullptr : result->value->id.c_str();
}

const char* tk_location_res_asset(const tk_location_res* result) {
  return result == nullptr || !result->value ? nullptr : result->value->asset.c_str();
}

const tk_location_detail* tk_location_res_location(const tk_location_res* result) {
  return result == nullptr || !result->value ? nullptr : opaque<tk_location_detail>(result->value->location);
}

// LocationDetail and its parts

int64_t tk_location_detail_timestamp(const tk_location_detail* detail) {
  return read(detail, [](const auto& d) { return static_cast<int64_t>(d.timestamp); }, int64_t{0});
}

const tk_address_info* tk_location_detail_address(const tk_location_detail* detail) {
  return read(detail, [](const auto& d) { return opaque<tk_address_info>(d.address); },
              static_cast<const tk_address_info*>(nullptr));
}

const tk_place_info* tk_location_detail_place(const tk_location_detail* detail) {
  return read(detail, [](const auto& d) { return opaque<tk_place_info>(d.place); },
              static_cast<const tk_place_info*>(nullptr));
}

const tk_position* tk_location_detail_position(const tk_location_detail* detail) {
  return read(detail, [](const auto& d) { return opaque<tk_position>(d.position); },
              static_cast<const tk_position*>(nullptr));
}

const tk_point* tk_position_point(const tk_position* position) {
  return read(position, [](const auto& p) { return opaque<tk_point>(p.point); }, static_cast<const tk_point*>(nullptr));
}

double tk_point_longitude(const tk_point* point) {
  return read(point, [](const auto& p) { return p.longitude; }, kNoNumber);
}

double tk_point_latitude(const tk_point* point) {
  return read(point, [](const auto& p) { return p.latitude; }, kNoNumber);
}

const char* tk_address_info_name(const tk_address_info* info) {
  return read(info, [](const auto& i) { return i.name.c_str(); }, static_cast<const char*>(nullptr));
}

size_t tk_address_info_context_count(const tk_address_info* info) {
  return read(info, [](const auto& i) { return i.context.size(); }, std::size_t{0});
}

const tk_address* tk_address_info_context_at(const tk_address_info* info, size_t index) {
  return read(info, [index](const auto& i) { return elementAt<tk_address>(i.context, index); },
              static_cast<const tk_address*>(nullptr));
}

const char* tk_address_type(const tk_address* address) {
  return read(address, [](const auto& a) { return a.type.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_address_name(const tk_address* address) {
  return read(address, [](const auto& a) { return a.name.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_address_code(const tk_address* address) {
  return read(address, [](const auto& a) { return a.code.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_place_info_type(const tk_place_info* place) {
  return read(place, [](const auto& p) { return p.type.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_place_info_name(const tk_place_info* place) {
  return read(place, [](const auto& p) { return p.name.c_str(); }, static_cast<const char*>(nullptr));
}

const tk_distance_info* tk_place_info_distance(const tk_place_info* place) {
  return read(place, [](const auto& p) { return opaque<tk_distance_info>(p.distance); },
              static_cast<const tk_distance_info*>(nullptr));
}

double tk_distance_info_line(const tk_distance_info* distance) {
  return read(distance, [](const auto& d) { return d.line; }, kNoNumber);
}

// Lists of GeocodeRes

tk_geocode_list* tk_geocode_list_retain(const tk_geocode_list* list) { return tovik::capi::retainHandle(list); }

void tk_geocode_list_release(tk_geocode_list* list) { tovik::capi::releaseHandle(list); }

size_t tk_geocode_list_count(const tk_geocode_list* list) { return list == nullptr ? 0 : list->items.size(); }

const tk_geocode_res* tk_geocode_list_at(const tk_geocode_list* list, size_t index) {
  return list == nullptr ? nullptr : elementAt<tk_geocode_res>(list->items, index);
}

const char* tk_geocode_res_id(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.id.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_geocode_res_geoPoint(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.geoPoint.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_geocode_res_type(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.type.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_geocode_res_name(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.name.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_geocode_res_code(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.code.c_str(); }, static_cast<const char*>(nullptr));
}

bool tk_geocode_res_hasCategories(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.categories.has_value(); }, false);
}

size_t tk_geocode_res_categories_count(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.categories ? g.categories->size() : std::size_t{0}; },
              std::size_t{0});
}

const tk_category* tk_geocode_res_categories_at(const tk_geocode_res* item, size_t index) {
  return read(
      item,
      [index](const auto& g) { return g.categories ? elementAt<tk_category>(*g.categories, index) : nullptr; },
      static_cast<const tk_category*>(nullptr));
}

const tk_address_info* tk_geocode_res_address(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return opaque<tk_address_info>(g.address); },
              static_cast<const tk_address_info*>(nullptr));
}

double tk_geocode_res_relevance(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.relevance; }, kNoNumber);
}

double tk_geocode_res_distance(const tk_geocode_res* item) {
  return read(item, [](const auto& g) { return g.distance; }, kNoNumber);
}

const char* tk_category_id(const tk_category* category) {
  return read(category, [](const auto& c) { return c.id.c_str(); }, static_cast<const char*>(nullptr));
}

const char* tk_category_name(const tk_category* category) {
  return read(category, [](const auto& c) { return c.name.c_str(); }, static_cast<const char*>(nullptr));
}

}  // extern "C"
