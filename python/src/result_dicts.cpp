#include "result_dicts.h"

namespace py = pybind11;

namespace tovik::python {

namespace {

/// `convert(*part)`, or None for a missing part.
template <class Part, class Convert>
py::object optional(const std::shared_ptr<Part>& part, Convert convert) {
  return part ? py::object(convert(*part)) : py::object(py::none());
}

py::dict addressDict(const AddressInfo& info) {
  py::list context;
  for (const auto& level : info.context) {
    if (level) context.append(py::dict(py::arg("type") = level->type, py::arg("name") = level->name,
                                       py::arg("code") = level->code));
  }
  return py::dict(py::arg("name") = info.name, py::arg("context") = context);
}

py::dict placeDict(const PlaceInfo& place) {
  return py::dict(py::arg("type") = place.type, py::arg("name") = place.name,
                  py::arg("distance") = optional(place.distance, [](const DistanceInfo& d) {
                    return py::dict(py::arg("line") = d.line);
                  }));
}

py::dict pointDict(const TkPoint& point) {
  return py::dict(py::arg("longitude") = point.longitude, py::arg("latitude") = point.latitude);
}

py::dict detailDict(const LocationDetail& detail) {
  return py::dict(py::arg("timestamp") = detail.timestamp, py::arg("address") = optional(detail.address, addressDict),
                  py::arg("place") = optional(detail.place, placeDict),
                  py::arg("position") = optional(detail.position, [](const Position& position) {
                    return py::dict(py::arg("point") = optional(position.point, pointDict));
                  }));
}

py::dict geocodeDict(const GeocodeRes& item) {
  py::object categories = py::none();
  if (item.categories) {
    py::list list;
    for (const auto& category : *item.categories) {
      if (category) list.append(py::dict(py::arg("id") = category->id, py::arg("name") = category->name));
    }
    categories = list;
  }
  return py::dict(py::arg("id") = item.id, py::arg("geoPoint") = item.geoPoint, py::arg("type") = item.type,
                  py::arg("name") = item.name, py::arg("code") = item.code, py::arg("categories") = categories,
                  py::arg("address") = optional(item.address, addressDict), py::arg("relevance") = item.relevance,
                  py::arg("distance") = item.distance);
}

}  // namespace

py::dict locationDict(const LocationRes& result) {
  return py::dict(py::arg("id") = result.id, py::arg("asset") = result.asset,
                  py::arg("location") = optional(result.location, detailDict));
}

py::list placeList(const std::vector<std::shared_ptr<GeocodeRes>>& places) {
  py::list list;
  for (const auto& item : places) {
    list.append(optional(item, geocodeDict));
  }
  return list;
}

}  // namespace tovik::python
