#pragma once

#include <memory>
#include <vector>

#include <pybind11/pybind11.h>
#include <tovik/tovik.h>

namespace tovik::python {

/// The kit's results as Python dictionaries with the keys of their JSON form ("id", "location",
/// "geoPoint", ...); a part the answer lacks is None. Needs the GIL.
pybind11::dict locationDict(const LocationRes& result);
pybind11::list placeList(const std::vector<std::shared_ptr<GeocodeRes>>& places);

}  // namespace tovik::python
