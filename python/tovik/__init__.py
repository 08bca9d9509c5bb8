"""Tovik from Python: datum transforms between WGS-84, GCJ-02 and BD-09 over numpy arrays,
distances and track lengths, and the location services through a Client.

    >>> import tovik
    >>> tovik.transform((39.9087, 116.3975), "wgs84", "gcj02")
    (39.91010349934476, 116.40374357265176)

Points are (latitude, longitude) rows in degrees unless order="lonlat". Arrays go through the
kit's batch transforms (the same numbers as its C++ batch, bit for bit); a single point goes
through the single-point transform, as the `tovik` command does.
"""

import operator
import sys
import warnings

import numpy as np

from . import _tovik
from ._tovik import Error

__all__ = ["Client", "Error", "distance", "in_region", "set_log", "set_source", "track_length", "transform",
           "version"]
__version__ = _tovik.version()[0]
Error.__module__ = __name__

_DATUMS = {"wgs84": 0, "gcj02": 1, "bd09": 2}
_REGIONS = {"rectangle": 0, "precise": 1}
_INVERSES = {"search": False, "precise": True}
_ORDERS = {"latlon": False, "lonlat": True}


def _choice(table, value, name):
    if isinstance(value, str) and value.lower() in table:
        return table[value.lower()]
    raise ValueError(f"{name}: expected one of {', '.join(table)}, got {value!r}")


def _float64(array, name):
    """`array` as float64, when that changes no value (float64 in either byte order, integers)."""
    if array.dtype.kind == "f" and array.dtype.itemsize == 8 or array.dtype.kind in "iu":
        return array.astype(np.float64, copy=False)
    hint = ""
    if array.dtype.kind == "f" and array.dtype.itemsize < 8:
        hint = (f"; {array.dtype} keeps a coordinate to about a metre or worse: convert with"
                " .astype(numpy.float64) if that is good enough")
    raise TypeError(f"{name}: coordinates must be float64, got {array.dtype}{hint}")


def _points(points, name):
    """(rows, form): `points` as a C-contiguous (N, 2) float64 array in the caller's order, and
    how results go back: "pair" (a tuple of two floats), "point" (an array of shape (2,)),
    "columns" (a tuple of two arrays) or "rows"."""
    if isinstance(points, tuple) and len(points) == 2:
        first, second = points
        if np.ndim(first) == 0 and np.ndim(second) == 0:
            return _float64(np.array([[first, second]]), name), "pair"
        if isinstance(first, np.ndarray) and isinstance(second, np.ndarray):
            if first.ndim != 1 or second.shape != first.shape:
                raise ValueError(f"{name}: two columns must be 1-D arrays of one length, got shapes "
                                 f"{first.shape} and {second.shape}")
            rows = np.empty((len(first), 2))
            rows[:, 0] = _float64(first, name)
            rows[:, 1] = _float64(second, name)
            return rows, "columns"
    array = np.asarray(points)
    if array.shape == (2,):
        return np.ascontiguousarray(_float64(array, name).reshape(1, 2)), "point"
    if array.ndim != 2 or array.shape[1] != 2:
        hint = ""
        if array.ndim == 2 and array.shape[0] == 2:
            hint = "; for a latitude row and a longitude row pass the tuple (lats, lons), or points.T"
        raise ValueError(f"{name}: expected an (N, 2) array of (lat, lon) rows, got shape {array.shape}{hint}")
    return np.ascontiguousarray(_float64(array, name)), "rows"


def _latlon(points, order, name):
    """`points` as C-contiguous (lat, lon) rows and their form; warns of impossible latitudes."""
    rows, form = _points(points, name)
    if _choice(_ORDERS, order, "order"):
        rows = np.ascontiguousarray(rows[:, ::-1])
    bad = np.flatnonzero(np.abs(rows[:, 0]) > 90)
    if len(bad):
        _warn_latitude(bad[0], form, stacklevel=4)
    return rows, form


def _warn_latitude(row, form, stacklevel=3):
    where = "the latitude" if _single(form) else f"the latitude of row {row}"
    warnings.warn(f"{where} is outside [-90, 90]: if the points are (lon, lat), pass order='lonlat'",
                  RuntimeWarning, stacklevel=stacklevel)


def _single(form):
    return form in ("pair", "point")


def transform(points, src, dst, *, order="latlon", region="rectangle", inverse="search", out=None):
    """Converts points from the datum `src` to `dst` ("wgs84", "gcj02", "bd09").

    points: an (N, 2) array of rows (anything numpy.asarray turns into one; integers and float64
    only, so float32 data is refused rather than widened), a tuple of two 1-D arrays (columns),
    or one point as a tuple of two numbers or an array of shape (2,). Results come back in the
    same form and order; an array is new unless `out`, an (N, 2) C-contiguous float64 array
    (which may be `points` itself), receives it.
    order: "latlon" (the default) or "lonlat", the order of each row or pair.
    region: "rectangle" (the GCJ-02 rectangle, the default) or "precise" (mainland China and
    its waters): where WGS-84 and GCJ-02 differ.
    inverse: for GCJ-02 and BD-09 to WGS-84, "search" (the kit's default search, about a
    metre) or "precise" (Newton's method, to a tenth of a micrometre).

    A latitude outside [-90, 90] still goes through the formulas, with a RuntimeWarning.
    """
    route = (_choice(_DATUMS, src, "src"), _choice(_DATUMS, dst, "dst"), _choice(_REGIONS, region, "region"),
             _choice(_INVERSES, inverse, "inverse"))
    lonlat = _choice(_ORDERS, order, "order")
    rows, form = _points(points, "points")
    if _single(form):
        if out is not None:
            raise TypeError("out: takes an (N, 2) array; a single point is returned")
        first, second = rows[0]
        lat, lon = (second, first) if lonlat else (first, second)
        if abs(lat) > 90:
            _warn_latitude(0, form)
        lat, lon = _tovik.convert_point(lat, lon, *route)
        pair = (lon, lat) if lonlat else (lat, lon)
        return pair if form == "pair" else np.array(pair)
    if out is None:
        out = np.empty_like(rows)
    elif form == "columns":
        raise TypeError("out: takes an (N, 2) array, not columns; pass rows to convert in place")
    else:
        _check_out(out, rows.shape)
    bad = _tovik.convert_rows(rows, out, *route, lonlat)
    if bad >= 0:
        _warn_latitude(bad, form)
    if form == "columns":
        first, second = np.ascontiguousarray(out.T)
        return first, second
    return out


def _check_out(out, shape):
    if not isinstance(out, np.ndarray):
        raise TypeError(f"out: expected a numpy array, got {type(out).__name__}")
    if out.dtype != np.float64:
        raise TypeError(f"out: expected float64, got {out.dtype}")
    if out.shape != shape:
        raise ValueError(f"out: expected shape {shape}, got {out.shape}")
    if not out.flags.c_contiguous:
        raise ValueError("out: must be C-contiguous (the results are written row after row)")
    if not out.flags.writeable:
        raise ValueError("out: is read-only")


def distance(a, b, *, ellipsoid=False, order="latlon"):
    """Metres between the points `a` and `b` (WGS-84): on the kit's sphere by default, along the
    WGS-84 ellipsoid's geodesic (GeographicLib) with ellipsoid=True. Each side is one point or
    N points in the forms `transform` takes; one point against N gives N distances. Two single
    points give a float, otherwise an array."""
    p, p_form = _latlon(a, order, "a")
    q, q_form = _latlon(b, order, "b")
    if len(p) != len(q) and 1 not in (len(p), len(q)):
        raise ValueError(f"a and b: {len(p)} points against {len(q)}")
    p, q = (np.ascontiguousarray(side) for side in np.broadcast_arrays(p, q))
    metres = _tovik.distances(p, q, bool(ellipsoid))
    return float(metres[0]) if _single(p_form) and _single(q_form) else metres


def track_length(points, *, ellipsoid=False, order="latlon"):
    """Metres along a track: the sum of the distances between consecutive points (on the sphere,
    or the ellipsoid with ellipsoid=True); fewer than two points: 0."""
    rows, _ = _latlon(points, order, "points")
    return _tovik.track_length(rows, bool(ellipsoid))


def in_region(points, region="rectangle", *, order="latlon"):
    """Whether WGS-84 → GCJ-02 in `region` moves each point: a bool for one point, else an array."""
    rows, form = _latlon(points, order, "points")
    inside = _tovik.in_region(rows, _choice(_REGIONS, region, "region"))
    return bool(inside[0]) if _single(form) else inside


def version():
    """The kit's version and build number, as ("0.1.0", "1")."""
    return _tovik.version()


def set_log(enabled):
    """The kit's log (and the banner each call's facade writes) on standard error, or nowhere
    (the default). Process-wide."""
    _tovik.set_log(bool(enabled))


def set_source(source):
    """Where Client.locate takes fixes from, for the whole process: "auto" (gpsd, else GeoClue2;
    the default), "gpsd[:HOST[:PORT]]" (an IPv6 address in brackets), "geoclue" or
    "nmea:FILE[@SPEED]" (a recorded log replayed at SPEED times real time; 0: at once). Call it
    from the thread that makes the calls."""
    kind, _, rest = source.partition(":")
    if kind == "gpsd":
        host, port = rest, ""
        if rest.startswith("["):
            host, _, port = rest[1:].partition("]")
            port = port.removeprefix(":")
        elif ":" in rest:
            host, _, port = rest.partition(":")
        port = int(port) if port.isdigit() else port or 2947
        _tovik.set_source("gpsd", host or "localhost", _int_in(port, 1, 65535, "source: gpsd port"))
    elif kind == "nmea" and rest:
        path, speed = rest, 1.0
        head, at, tail = rest.rpartition("@")
        try:
            path, speed = (head, float(tail)) if at else (path, speed)
        except ValueError:
            pass  # an @ that belongs to the file's name
        if not speed >= 0:
            raise ValueError(f"source: the speed must be 0 or more, got {tail!r}")
        _tovik.set_source("nmea", path, speed)
    elif source in ("auto", "geoclue"):
        _tovik.set_source(source, "", 0.0)
    else:
        raise ValueError(f"source: expected auto, gpsd[:HOST[:PORT]], geoclue or nmea:FILE[@SPEED], got {source!r}")


def _int_in(value, low, high, name):
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name}: expected a whole number, got {value!r}") from None
    if not low <= number <= high:
        raise ValueError(f"{name}: {number} is out of range [{low}, {high}]")
    return number


def _int32(value, name):
    return _int_in(value, -2**31, 2**31 - 1, name)


def _timeout(timeout):
    if timeout is None or isinstance(timeout, (int, float)) and timeout >= 0:
        return timeout
    raise ValueError(f"timeout: expected seconds (0 or more) or None, got {timeout!r}")


def _wait(call, timeout):
    """The outcome of `call`, driving the kit's main queue on this thread until it arrives."""
    try:
        if not call.wait(_timeout(timeout)):
            raise TimeoutError(f"tovik: no answer within {timeout} s")
    except BaseException:
        call.abandon()
        raise
    finally:
        # Calls awaited on an asyncio loop of this thread may have finished meanwhile.
        loop_glue = sys.modules.get(__name__ + "._asyncio")
        if loop_glue is not None:
            loop_glue.settle()
    return call.result()


def _to_gcj(point, datum):
    """The (lat, lon) point written in `datum`, written in GCJ-02, as the service takes it."""
    lat, lon = (float(value) for value in point)
    _choice(_DATUMS, datum, "datum")
    return transform((lat, lon), datum, "gcj02")


async def _wait_async(call, timeout):
    from . import _asyncio
    try:
        timeout = _timeout(timeout)
    except ValueError:
        call.abandon()
        raise
    return await _asyncio.wait(call, timeout)


class Client:
    """The kit's location services: reverse geocoding, forward geocoding, keyword and nearby
    place search, and a single location, each as a blocking method and as an `async` one
    (`..._async`, on the running asyncio loop).

    key: the access key (none: every call fails with the kit's message); poi_key: the place
    searches' key (default: key); service: the service's base address (default: the kit's,
    http://127.0.0.1:8600, where tovik-service listens); agree: the user agreed to the privacy
    policy (without it every call fails with the kit's message); purpose: why the program asks
    for the device's location, which `locate` needs.

    Results are dictionaries with the keys of the service's JSON ("location", "geoPoint", ...);
    a part the answer lacks is None. A failed call raises tovik.Error with the kit's message;
    `timeout` (seconds, default none: the kit's own 30 s per request) raises TimeoutError.

    The kit runs every call on its main queue, which one thread drives for good: the first that
    makes a call. Make every call, blocking or async, from that thread.
    """

    def __init__(self, key=None, *, poi_key=None, service=None, agree=False, purpose=None):
        self._native = _tovik.Client(key, poi_key, service, bool(agree), purpose)

    def reverse(self, lat, lon, *, datum="wgs84", timeout=None):
        """The address at a point written in `datum` (sent to the service in GCJ-02)."""
        return _wait(self._reverse(lat, lon, datum), timeout)

    async def reverse_async(self, lat, lon, *, datum="wgs84", timeout=None):
        return await _wait_async(self._reverse(lat, lon, datum), timeout)

    def geocode(self, address, city, *, timeout=None):
        """The places an address names within a city."""
        return _wait(self._native.geocode(address, city), timeout)

    async def geocode_async(self, address, city, *, timeout=None):
        return await _wait_async(self._native.geocode(address, city), timeout)

    def place_search(self, name, city, *, city_code="", page_index=1, page_size=10, timeout=None):
        """Places matching `name` in a city, one page."""
        return _wait(self._place_search(name, city, city_code, page_index, page_size), timeout)

    async def place_search_async(self, name, city, *, city_code="", page_index=1, page_size=10, timeout=None):
        return await _wait_async(self._place_search(name, city, city_code, page_index, page_size), timeout)

    def nearby_search(self, keywords, location, radius, *, category="", orderby="", page_index=1, page_size=10,
                      datum="wgs84", timeout=None):
        """Places matching `keywords` within `radius` metres of `location`: a (lat, lon) point in
        `datum`, sent as "lon,lat" in GCJ-02, or the service's own text, sent as it is."""
        return _wait(self._nearby(keywords, location, radius, category, orderby, page_index, page_size, datum),
                     timeout)

    async def nearby_search_async(self, keywords, location, radius, *, category="", orderby="", page_index=1,
                                  page_size=10, datum="wgs84", timeout=None):
        return await _wait_async(
            self._nearby(keywords, location, radius, category, orderby, page_index, page_size, datum), timeout)

    def locate(self, *, fast=False, timeout=None):
        """One fix of the device (see set_source), sent to the service: its located result (when
        the device is offline, the kit's local one: the fix in GCJ-02). fast: the best fix of a
        0.2 s window."""
        return _wait(self._native.locate(bool(fast)), timeout)

    async def locate_async(self, *, fast=False, timeout=None):
        return await _wait_async(self._native.locate(bool(fast)), timeout)

    def _reverse(self, lat, lon, datum):
        lat, lon = _to_gcj((lat, lon), datum)
        return self._native.reverse(lat, lon)

    def _place_search(self, name, city, city_code, page_index, page_size):
        return self._native.place_search(name, city_code, city, _int32(page_index, "page_index"),
                                         _int32(page_size, "page_size"))

    def _nearby(self, keywords, location, radius, category, orderby, page_index, page_size, datum):
        if not isinstance(location, str):
            lat, lon = _to_gcj(location, datum)
            location = f"{lon!r},{lat!r}"
        return self._native.nearby_search(keywords, location, _int32(radius, "radius"), category, orderby,
                                          _int32(page_index, "page_index"), _int32(page_size, "page_size"))
