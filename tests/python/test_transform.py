"""The transforms, distances and region test of the installed package: the kit's reference
values, bit-identity with the kit's own batch (its C interface, through ctypes), every form of
argument, and refusals with their messages."""

import builtins
import ctypes
import json
import pathlib
import re
import warnings

import numpy as np
import pytest
import tovik

from conftest import DATA, PREFIX, SOURCE

ROUTES = [("wgs84", "gcj02"), ("gcj02", "wgs84"), ("gcj02", "bd09"), ("bd09", "gcj02"), ("wgs84", "bd09"),
          ("bd09", "wgs84")]
# Every route in both regions, and the two inverses of each route to WGS-84 (GCJ-02 <-> BD-09 has
# no region).
CONVERSIONS = [(src, dst, region, inverse) for src, dst in ROUTES
               for region in (["rectangle", "precise"] if "wgs84" in (src, dst) else ["rectangle"])
               for inverse in (["search", "precise"] if dst == "wgs84" else ["search"])]
C_NAMES = {"wgs84": "WGS", "gcj02": "GCJ", "bd09": "Baidu"}


class CCoordinate(ctypes.Structure):
    _fields_ = [("latitude", ctypes.c_double), ("longitude", ctypes.c_double)]


@pytest.fixture(scope="module")
def libtovik():
    (library,) = PREFIX.glob("lib*/libtovik.so")
    return ctypes.CDLL(str(library))


def c_batch(lib, points, src, dst, region, inverse):
    """The C interface's batch over `points`, in `region`, with the search or precise inverse."""
    name = f"tk_orb_coor_transform_transformFrom{C_NAMES[src]}To{C_NAMES[dst]}"
    name += "Precise_batch" if inverse == "precise" and dst == "wgs84" else "_batch"
    if region == "precise":
        name += "_inRegion"
    function = getattr(lib, name)
    points = np.ascontiguousarray(points)
    out = np.empty_like(points)
    args = [points.ctypes.data_as(ctypes.c_void_p), out.ctypes.data_as(ctypes.c_void_p), ctypes.c_size_t(len(points))]
    if region == "precise":
        args.append(ctypes.c_int32(1))
    assert function(*args) == 0
    return out


def grid(count=5003, seed=27):
    """Points over the GCJ-02 rectangle and around it, with NaN, in an odd number of rows so that
    every vector path ends with a partial batch."""
    rng = np.random.default_rng(seed)
    points = np.column_stack([rng.uniform(-5, 60, count), rng.uniform(65, 145, count)])
    points[7] = [np.nan, 116.4]
    return points


def same_bits(a, b):
    return np.array_equal(np.asarray(a).view(np.uint64), np.asarray(b).view(np.uint64))


def test_the_installed_package_is_the_one_tested():
    assert pathlib.Path(tovik.__file__).is_relative_to(PREFIX / "lib/python3/dist-packages/tovik")
    assert tovik.__version__ == tovik.version()[0]


@pytest.mark.parametrize("row", json.loads((SOURCE / "tests/coord/data/reference_values.json").read_text()),
                         ids=lambda row: f"{row[0]}@{row[1]},{row[2]}")
def test_single_points_give_the_kits_reference_values(row):
    operation, lat, lon, want_lat, want_lon = row[:5]
    datums = {"Wgs": "wgs84", "Gcj": "gcj02", "Baidu": "bd09"}
    src, dst, region = re.fullmatch(r"(\w+?)To(Wgs|Gcj|Baidu)(InPreciseRegion|InRectangle)?", operation).groups()
    got = tovik.transform((lat, lon), datums[src], datums[dst], region="precise" if region == "InPreciseRegion" else "rectangle")
    assert got == pytest.approx((want_lat, want_lon), abs=1e-9)


@pytest.mark.parametrize("src,dst,region,inverse", CONVERSIONS)
def test_arrays_give_the_kits_batch_to_the_bit(libtovik, src, dst, region, inverse):
    points = grid()
    want = c_batch(libtovik, points, src, dst, region, inverse)
    got = tovik.transform(points, src, dst, region=region, inverse=inverse)
    assert same_bits(got, want)
    # The other forms give the same numbers: (lon, lat) rows, columns, a view with gaps, in place.
    assert same_bits(tovik.transform(points[:, ::-1], src, dst, region=region, inverse=inverse, order="lonlat"),
                     want[:, ::-1])
    lats, lons = tovik.transform((points[:, 0], points[:, 1]), src, dst, region=region, inverse=inverse)
    assert same_bits(lats, want[:, 0]) and same_bits(lons, want[:, 1])
    wide = np.zeros((len(points), 3))
    wide[:, :2] = points
    assert same_bits(tovik.transform(wide[:, :2], src, dst, region=region, inverse=inverse), want)
    copy = points.copy()
    assert tovik.transform(copy, src, dst, region=region, inverse=inverse, out=copy) is copy
    assert same_bits(copy, want)


def test_single_points_are_the_single_point_transform(libtovik):
    function = libtovik.tk_orb_coor_transform_transformFromGCJToWGS
    function.restype, function.argtypes = CCoordinate, [CCoordinate]
    for lat, lon in grid(200)[8:]:
        want = function(CCoordinate(lat, lon))
        assert tovik.transform((lat, lon), "gcj02", "wgs84") == (want.latitude, want.longitude)
        assert tovik.transform((lon, lat), "gcj02", "wgs84", order="lonlat") == (want.longitude, want.latitude)
        assert same_bits(tovik.transform(np.array([lat, lon]), "gcj02", "wgs84"), [want.latitude, want.longitude])


def test_overlapping_output_converts_the_input_as_it_was():
    points = grid(1000)
    want = tovik.transform(points, "wgs84", "bd09")
    shared = np.vstack([points, np.zeros((1, 2))])
    # out starts one row later than the input in the same memory
    assert same_bits(tovik.transform(shared[:-1], "wgs84", "bd09", out=shared[1:]), want)


def test_other_inputs_that_are_exact():
    ints = np.array([[40, 116], [31, 121]])
    assert same_bits(tovik.transform(ints, "wgs84", "gcj02"), tovik.transform(ints.astype(float), "wgs84", "gcj02"))
    big_endian = grid(100).astype(">f8")
    assert same_bits(tovik.transform(big_endian, "wgs84", "gcj02"), tovik.transform(grid(100), "wgs84", "gcj02"))
    assert tovik.transform([[39.9, 116.4]], "WGS84", "GCJ02").shape == (1, 2)
    assert tovik.transform(np.empty((0, 2)), "wgs84", "gcj02").shape == (0, 2)
    assert tovik.transform((np.float64(39.9), 116), "wgs84", "wgs84") == (39.9, 116.0)


def test_distances_and_tracks_are_the_kits():
    beijing, shanghai = (39.9042, 116.4074), (31.2304, 121.4737)
    assert tovik.distance(beijing, shanghai) == 1067310.8410323975
    assert tovik.distance(beijing, shanghai, ellipsoid=True) == pytest.approx(1065846.489, abs=1e-3)
    assert tovik.distance(beijing[::-1], shanghai[::-1], order="lonlat") == tovik.distance(beijing, shanghai)
    track = np.array([[39.9, 116.4 + i * 1e-7] for i in range(1001)])  # under a centimetre a step
    steps = tovik.distance(track[:-1], track[1:], ellipsoid=True)
    assert steps.shape == (1000,)
    assert tovik.track_length(track, ellipsoid=True) == pytest.approx(steps.sum(), abs=1e-9)
    assert tovik.track_length(track, ellipsoid=True) == pytest.approx(8.552, abs=1e-3)
    assert tovik.track_length(track) < 0.5 * tovik.track_length(track, ellipsoid=True)  # the sphere's chord
    assert list(tovik.distance(beijing, np.array([beijing, shanghai]))) == [0.0, tovik.distance(beijing, shanghai)]
    assert tovik.track_length(track[:1]) == 0.0


def test_regions():
    points = np.array([[39.9, 116.4], [22.28, 114.16], [37.57, 126.98], [48.86, 2.35]])  # Beijing, HK, Seoul, Paris
    assert list(tovik.in_region(points)) == [True, True, True, False]
    assert list(tovik.in_region(points, "precise")) == [True, False, False, False]
    assert tovik.in_region((22.28, 114.16), "precise") is False
    seoul = tuple(points[2])
    assert tovik.transform(seoul, "wgs84", "gcj02", region="precise") == seoul


def test_impossible_latitudes_are_converted_with_a_warning():
    lonlat = np.array([[116.4, 39.9], [121.47, 31.23]])
    with pytest.warns(RuntimeWarning, match=r"latitude of row 0 is outside \[-90, 90\].*order='lonlat'"):
        tovik.transform(lonlat, "wgs84", "bd09")
    with pytest.warns(RuntimeWarning, match="the latitude is outside"):
        tovik.transform((116.4, 39.9), "wgs84", "bd09")
    with pytest.warns(RuntimeWarning, match="latitude of row 1"):
        tovik.track_length(np.array([[39.9, 116.4], [116.4, 39.9]]))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        tovik.transform(lonlat, "wgs84", "bd09", order="lonlat")
        tovik.transform(np.array([[np.nan, 116.4]]), "wgs84", "gcj02")


def read_errors():
    for line in (DATA / "argument_errors.txt").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            yield pytest.param(*(part.strip() for part in line.split(" | ")), id=line.split(" | ")[0].strip())


@pytest.mark.parametrize("expression,kind,message", read_errors())
def test_refusals_name_what_is_wrong(expression, kind, message):
    pts = np.array([[39.9, 116.4], [39.91, 116.41], [31.2, 121.5]])
    readonly = pts.copy()
    readonly.flags.writeable = False
    with pytest.raises(getattr(builtins, kind)) as raised:
        eval(expression, {"tovik": tovik, "np": np, "pts": pts, "readonly": readonly})
    assert message in str(raised.value)
