// The native half of the `tovik` package (tovik._tovik): the kit's transforms and distances over
// numpy rows, its main queue, and its calls with their results as Python objects. The package's
// Python half checks and shapes the arguments; what arrives here is already well-formed.

#include <Python.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include <tovik/tovik.h>

#include "datum_route.h"
#include "kit_call.h"
#include "kit_client.h"
#include "result_dicts.h"

namespace py = pybind11;

namespace tovik::python {
namespace {

// The rows of a numpy (N, 2) float64 array are the kit's coordinates, read in place.
static_assert(std::is_standard_layout_v<Coordinate> && sizeof(Coordinate) == 2 * sizeof(double) &&
              offsetof(Coordinate, latitude) == 0 && offsetof(Coordinate, longitude) == sizeof(double));

/// A failed call of the kit, carrying its message (tovik.Error).
struct KitError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The rows of a C-contiguous (N, 2) float64 array.
template <class Row>
std::span<Row> rowsOf(const py::array& array) {
  const bool writable = !std::is_const_v<Row>;
  if (!array.dtype().is(py::dtype::of<double>()) || array.ndim() != 2 || array.shape(1) != 2 ||
      (array.flags() & py::array::c_style) == 0 || (writable && !array.writeable())) {
    throw py::value_error("tovik: expected a C-contiguous (N, 2) float64 array");
  }
  return {static_cast<Row*>(const_cast<void*>(array.data())), static_cast<std::size_t>(array.shape(0))};
}

bool overlap(std::span<const Coordinate> a, std::span<const Coordinate> b) {
  const std::less<const Coordinate*> before;
  return before(a.data(), b.data() + b.size()) && before(b.data(), a.data() + a.size());
}

/// The first row from `start` on whose latitude lies outside [-90, 90] (NaN does not), or -1.
std::ptrdiff_t impossibleLatitude(std::span<const Coordinate> rows, std::size_t start) {
  bool any = false;
  for (const Coordinate& c : rows) any |= std::fabs(c.latitude) > 90.0;  // no early exit, so it vectorises
  if (!any) return -1;
  const auto at = std::ranges::find_if(rows, [](const Coordinate& c) { return std::fabs(c.latitude) > 90.0; });
  return at == rows.end() ? -1 : static_cast<std::ptrdiff_t>(start) + (at - rows.begin());
}

/// Converts the rows of `input` into `output` by the kit's batch, (lon, lat) rows when `lonlat`,
/// without the GIL. Chunks of 8192 rows are a multiple of every vector width, so the results
/// are those of one batch over all rows; each chunk is looked at for impossible latitudes while
/// it is in the cache. Returns the first row with one, or -1.
std::ptrdiff_t convertRows(const py::array& input, const py::array& output, int from, int to, int region,
                           bool precise, bool lonlat) {
  std::span<const Coordinate> in = rowsOf<const Coordinate>(input);
  const std::span<Coordinate> out = rowsOf<Coordinate>(output);
  if (in.size() != out.size()) throw py::value_error("tovik: rows and output differ in length");
  const DatumRoute route(static_cast<DatumId>(from), static_cast<DatumId>(to), static_cast<Region>(region), precise);
  std::vector<Coordinate> apart;  // the batch takes the same rows or rows apart, nothing between
  if (in.data() != out.data() && overlap(in, out)) {
    apart.assign(in.begin(), in.end());
    in = apart;
  }
  const py::gil_scoped_release unlocked;
  constexpr std::size_t kChunk = 8192;
  std::ptrdiff_t first = -1;
  for (std::size_t start = 0; start < in.size(); start += kChunk) {
    const auto src = in.subspan(start, std::min(kChunk, in.size() - start));
    const auto dst = out.subspan(start, src.size());
    if (lonlat) {
      std::ranges::transform(src, dst.begin(), [](Coordinate c) { return Coordinate{c.longitude, c.latitude}; });
    }
    const auto rows = lonlat ? std::span<const Coordinate>(dst) : src;
    if (first < 0) first = impossibleLatitude(rows, start);
    route.convert(rows, dst);
    if (lonlat) {
      for (Coordinate& c : dst) std::swap(c.latitude, c.longitude);
    }
  }
  return first;
}

py::array_t<double> distances(const py::array& a, const py::array& b, bool ellipsoid) {
  const auto p = rowsOf<const Coordinate>(a);
  const auto q = rowsOf<const Coordinate>(b);
  if (p.size() != q.size()) throw py::value_error("tovik: the two sets of rows differ in length");
  py::array_t<double> result(static_cast<py::ssize_t>(p.size()));
  double* metres = result.mutable_data();
  const py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < p.size(); ++i) {
    metres[i] = ellipsoid ? OrbCoorTransform::geodesicDistance(p[i], q[i]) : OrbCoorTransform::distanceByPoint(p[i], q[i]);
  }
  return result;
}

double trackLength(const py::array& a, bool ellipsoid) {
  const auto points = rowsOf<const Coordinate>(a);
  const py::gil_scoped_release unlocked;
  return ellipsoid ? OrbCoorTransform::geodesicTrackLength(points) : OrbCoorTransform::trackLength(points);
}

py::array_t<bool> inRegion(const py::array& a, int region) {
  const auto points = rowsOf<const Coordinate>(a);
  py::array_t<bool> result(static_cast<py::ssize_t>(points.size()));
  std::ranges::transform(points, result.mutable_data(),
                         [&](Coordinate c) { return OrbCoorTransform::contains(c, static_cast<Region>(region)); });
  return result;
}

/// The kit's console (its log and the version banner each facade writes) goes to standard
/// error while `set_log(True)`, and nowhere otherwise: a program's standard output is its own.
std::atomic<bool>& consoleShown() {
  static std::atomic<bool> shown{false};
  return shown;
}

void routeConsole() {
  static std::once_flag once;
  std::call_once(once, [] {
    TkClientLocation::setLogHandler([](std::string_view text) {
      if (consoleShown()) std::fwrite(text.data(), 1, text.size(), stderr);
    });
  });
}

void requireMainThread() {
  if (!KitCall::drivesMainQueue()) {
    throw std::runtime_error(
        "tovik: another thread drives the kit's main queue; call the kit from that thread (the first "
        "thread that makes a call or waits for one becomes the main thread for good)");
  }
}

/// Starts `call` on a facade of `client`'s, from the main thread.
std::shared_ptr<KitCall> started(const KitClient& client, const std::function<void(TkClientLocation&)>& call) {
  requireMainThread();
  return client.start(call);
}

py::object resultOf(const KitCall& call) {
  if (!call.done()) throw std::runtime_error("tovik: the call has not finished");
  const KitCall::Outcome& outcome = *call.outcome();
  if (const auto* message = std::get_if<std::string>(&outcome)) throw KitError(*message);
  if (const auto* places = std::get_if<std::vector<std::shared_ptr<GeocodeRes>>>(&outcome)) return placeList(*places);
  const auto& located = std::get<std::shared_ptr<LocationRes>>(outcome);
  return located ? py::object(locationDict(*located)) : py::object(py::none());
}

bool waitFor(KitCall& call, std::optional<double> seconds) {
  requireMainThread();
  bool done = false;
  {
    const py::gil_scoped_release unlocked;
    // Between slices, Ctrl-C (a pending signal) ends the wait.
    done = call.wait(seconds, [] {
      const py::gil_scoped_acquire locked;
      return PyErr_CheckSignals() != 0;
    });
  }
  if (PyErr_Occurred() != nullptr) throw py::error_already_set();
  return done;
}

void setSource(const std::string& kind, const std::string& where, double number) {
  requireMainThread();
  std::shared_ptr<LocationProvider> provider;
  if (kind == "gpsd") {
    provider = std::make_shared<GpsdLocationProvider>(where, static_cast<std::uint16_t>(number));
  } else if (kind == "nmea") {
    provider = std::make_shared<NmeaReplayProvider>(where, number);
  } else if (kind == "geoclue") {
    provider = std::make_shared<GeoclueLocationProvider>();
  } else if (kind == "auto") {
    provider = std::make_shared<AutomaticLocationProvider>();
  }
  LocationServices::setProvider(std::move(provider));
}

}  // namespace
}  // namespace tovik::python

PYBIND11_MODULE(_tovik, m) {
  using namespace tovik;
  using namespace tovik::python;
  m.doc() = "The native half of the tovik package; use the tovik package itself.";
  py::register_exception<KitError>(m, "Error", PyExc_RuntimeError).doc() =
      "A call of the kit failed; str(error) is the kit's message.";

  m.def("convert_rows", &convertRows);
  m.def("convert_point", [](double lat, double lon, int from, int to, int region, bool precise) {
    const Coordinate c = DatumRoute(static_cast<DatumId>(from), static_cast<DatumId>(to), static_cast<Region>(region),
                                    precise)
                             .convert(Coordinate{lat, lon});
    return py::make_tuple(c.latitude, c.longitude);
  });
  m.def("distances", &distances);
  m.def("track_length", &trackLength);
  m.def("in_region", &inRegion);
  m.def("version", [] { return py::make_tuple(TkVersion::sdkVersion(), TkVersion::buildNumber()); });

  m.def("set_log", [](bool shown) {
    routeConsole();
    consoleShown() = shown;
    TkClientLocation::setIsLogEnabled(shown);
  });
  m.def("set_source", &setSource);
  m.def("poll", [] { return MainQueue::shared().poll(); });
  m.def("queue_fd", [] { return MainQueue::shared().fd(); });
  m.def("next_timeout", []() -> std::optional<double> {
    const auto timeout = MainQueue::shared().nextTimeout();
    return timeout ? std::optional(std::chrono::duration<double>(*timeout).count()) : std::nullopt;
  });

  py::class_<KitCall, std::shared_ptr<KitCall>>(m, "Call")
      .def_property_readonly("done", &KitCall::done)
      .def("wait", &waitFor)
      .def("result", &resultOf)
      .def("abandon", &KitCall::abandon);

  using Text = const std::string&;
  py::class_<KitClient>(m, "Client")
      .def(py::init([](std::optional<std::string> key, std::optional<std::string> poiKey,
                       std::optional<std::string> service, bool agree, std::optional<std::string> purpose) {
        routeConsole();
        return KitClient({std::move(key), std::move(poiKey), std::move(service), agree, std::move(purpose)});
      }))
      .def("reverse",
           [](const KitClient& c, double lat, double lon) {
             return started(c, [=](TkClientLocation& f) { f.getReverseCode(lat, lon); });
           })
      .def("geocode",
           [](const KitClient& c, Text address, Text city) {
             return started(c, [=](TkClientLocation& f) { f.getGeocCode(address, city); });
           })
      .def("place_search",
           [](const KitClient& c, Text name, Text cityCode, Text city, std::int32_t page, std::int32_t size) {
             return started(c, [=](TkClientLocation& f) { f.poiKeySearch(name, cityCode, city, page, size); });
           })
      .def("nearby_search",
           [](const KitClient& c, Text keywords, Text location, std::int32_t radius, Text category, Text orderby,
              std::int32_t page, std::int32_t size) {
             return started(c, [=](TkClientLocation& f) {
               f.poiNearbySearch(keywords, location, radius, category, orderby, page, size);
             });
           })
      .def("locate", [](const KitClient& c, bool fast) {
        requireMainThread();
        return c.locate(fast);
      });
}
