#!/usr/bin/env python3
"""The Tovik location kit from Python through its C interface and ctypes alone, for an
interpreter the tovik package was not built for (track.py shows the package).

    python3 ctypes_example.py [--lib PATH] [--service URL] [--key KEY]

--lib names libtovik.so (default: $TOVIK_LIBRARY, else the system's libtovik). Without
--service the example converts coordinates and prints the version; with it, it also asks
the location service for the address at a coordinate and for places matching a keyword.
"""

import argparse
import ctypes
import ctypes.util
import os
import sys

# ---------------------------------------------------------------------------------------
# The C interface's types, as declared in <tovik/tovik_c.h>.

TK_OK = 0


class Coordinate(ctypes.Structure):
    _fields_ = [("latitude", ctypes.c_double), ("longitude", ctypes.c_double)]


LOCATION_CB = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)
ERROR_CB = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)
LIST_CB = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)
RELEASE_CB = ctypes.CFUNCTYPE(None, ctypes.c_void_p)
PREDICATE = ctypes.CFUNCTYPE(ctypes.c_bool, ctypes.c_void_p)


class Delegate(ctypes.Structure):
    # A NULL member (None) means "not implemented": that result is dropped.
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("context", ctypes.c_void_p),
        ("onReceivedLocationWithTkLocation", LOCATION_CB),
        ("onLocationErrorWithMsg", ERROR_CB),
        ("onReceivedReverseCodeWithTkLocation", LOCATION_CB),
        ("onReceivedGeocodeWithResult", LIST_CB),
        ("onReceivedPoiSearchWithResult", LIST_CB),
        ("releaseContext", RELEASE_CB),
    ]


def load(path):
    lib = ctypes.CDLL(path)

    def declare(name, restype, *argtypes):
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = list(argtypes)

    P = ctypes.c_void_p
    S = ctypes.c_char_p
    D = ctypes.c_double
    declare("tk_version_sdkVersion", S)
    declare("tk_version_buildNumber", S)
    for name in ("WGSToGCJ", "GCJToWGS", "GCJToBaidu", "BaiduToGCJ", "WGSToBaidu", "BaiduToWGS"):
        declare("tk_orb_coor_transform_transformFrom" + name, Coordinate, Coordinate)
        declare("tk_orb_coor_transform_transformFrom" + name + "_batch", ctypes.c_int,
                ctypes.POINTER(Coordinate), ctypes.POINTER(Coordinate), ctypes.c_size_t)
    declare("tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2", D, D, D, D, D)
    declare("tk_client_location_create", P, ctypes.POINTER(Delegate))
    declare("tk_client_location_destroy", None, P)
    declare("tk_client_location_setAgreePrivacyWithIsAgree", ctypes.c_int, P, ctypes.c_bool)
    declare("tk_client_location_initKeyWithAccesskey", ctypes.c_int, P, S)
    declare("tk_client_location_setServiceURL", ctypes.c_int, P, S)
    declare("tk_client_location_getReverseCodeWithLatitude_longitude", ctypes.c_int, P, D, D)
    declare("tk_client_location_poiKeySearchWithName_city_code_city_page_index_page_size", ctypes.c_int,
            P, S, S, S, ctypes.c_int32, ctypes.c_int32)
    declare("tk_main_queue_run_until", ctypes.c_bool, PREDICATE, P, D)
    declare("tk_location_res_location", P, P)
    declare("tk_location_detail_address", P, P)
    declare("tk_location_detail_position", P, P)
    declare("tk_position_point", P, P)
    declare("tk_point_latitude", D, P)
    declare("tk_point_longitude", D, P)
    declare("tk_address_info_name", S, P)
    declare("tk_address_info_context_count", ctypes.c_size_t, P)
    declare("tk_address_info_context_at", P, P, ctypes.c_size_t)
    declare("tk_address_type", S, P)
    declare("tk_address_name", S, P)
    declare("tk_geocode_list_count", ctypes.c_size_t, P)
    declare("tk_geocode_list_at", P, P, ctypes.c_size_t)
    declare("tk_geocode_res_name", S, P)
    declare("tk_geocode_res_geoPoint", S, P)
    return lib


def text(raw):
    return raw.decode("utf-8") if raw is not None else ""


# ---------------------------------------------------------------------------------------
# Stateless utilities: any thread, no facade needed.

def show_utilities(lib):
    print("Tovik %s (build %s)" % (text(lib.tk_version_sdkVersion()), text(lib.tk_version_buildNumber())))
    wgs = Coordinate(39.908722, 116.397499)
    gcj = lib.tk_orb_coor_transform_transformFromWGSToGCJ(wgs)
    bd = lib.tk_orb_coor_transform_transformFromWGSToBaidu(wgs)
    print("WGS-84 %.6f, %.6f -> GCJ-02 %.6f, %.6f -> BD-09 %.6f, %.6f"
          % (wgs.latitude, wgs.longitude, gcj.latitude, gcj.longitude, bd.latitude, bd.longitude))
    metres = lib.tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2(39.9, 31.2, 116.4, 121.5)
    print("Beijing to Shanghai: %.1f km" % (metres / 1000))

    # A whole track in one call: ctypes arrays pass as pointers.
    track = (Coordinate * 3)(Coordinate(39.9087, 116.3975), Coordinate(39.9090, 116.3980),
                             Coordinate(39.9095, 116.3990))
    converted = (Coordinate * 3)()
    if lib.tk_orb_coor_transform_transformFromWGSToGCJ_batch(track, converted, 3) != TK_OK:
        raise RuntimeError("batch transform failed")
    print("track in GCJ-02: " + "; ".join("%.6f, %.6f" % (c.latitude, c.longitude) for c in converted))


# ---------------------------------------------------------------------------------------
# The facade: results arrive through the delegate while the main queue runs.

class Session:
    def __init__(self, lib, service, key):
        self.lib = lib
        self.events = []
        # The callbacks must live as long as the facade may call them.
        self.callbacks = Delegate(
            size=ctypes.sizeof(Delegate),
            onReceivedLocationWithTkLocation=LOCATION_CB(lambda ctx, res: self.events.append(("location", None))),
            onLocationErrorWithMsg=ERROR_CB(self.on_error),
            onReceivedReverseCodeWithTkLocation=LOCATION_CB(self.on_reverse),
            onReceivedGeocodeWithResult=LIST_CB(lambda ctx, res: self.events.append(("geocode", self.places(res)))),
            onReceivedPoiSearchWithResult=LIST_CB(lambda ctx, res: self.events.append(("poi", self.places(res)))),
        )
        self.client = lib.tk_client_location_create(ctypes.byref(self.callbacks))
        if not self.client:
            raise RuntimeError("could not create the facade")
        lib.tk_client_location_setAgreePrivacyWithIsAgree(self.client, True)
        lib.tk_client_location_initKeyWithAccesskey(self.client, key.encode())
        lib.tk_client_location_setServiceURL(self.client, service.encode())

    def close(self):
        self.lib.tk_client_location_destroy(self.client)
        self.client = None

    def on_error(self, ctx, msg):
        self.events.append(("error", text(msg)))

    def on_reverse(self, ctx, res):
        # The result is lent for this call only: read what is needed now.
        lib = self.lib
        detail = lib.tk_location_res_location(res)
        address = lib.tk_location_detail_address(detail)
        levels = [(text(lib.tk_address_type(level)), text(lib.tk_address_name(level)))
                  for level in (lib.tk_address_info_context_at(address, i)
                                for i in range(lib.tk_address_info_context_count(address)))]
        point = lib.tk_position_point(lib.tk_location_detail_position(detail))
        self.events.append(("reverse", {
            "address": text(lib.tk_address_info_name(address)) if address else None,
            "levels": levels,
            "point": (lib.tk_point_latitude(point), lib.tk_point_longitude(point)),
        }))

    def places(self, results):
        lib = self.lib
        items = (lib.tk_geocode_list_at(results, i) for i in range(lib.tk_geocode_list_count(results)))
        return [(text(lib.tk_geocode_res_name(item)), text(lib.tk_geocode_res_geoPoint(item))) for item in items]

    def wait(self, count, seconds=35.0):
        done = PREDICATE(lambda ctx: len(self.events) >= count)
        return self.lib.tk_main_queue_run_until(done, None, seconds)


def ask_service(lib, service, key):
    session = Session(lib, service, key)
    try:
        # The service is asked about a point in GCJ-02: convert the device's WGS-84 one first.
        gcj = lib.tk_orb_coor_transform_transformFromWGSToGCJ(Coordinate(39.908722, 116.397499))
        session.lib.tk_client_location_getReverseCodeWithLatitude_longitude(session.client, gcj.latitude,
                                                                            gcj.longitude)
        if not session.wait(1):
            print("no answer from %s" % service, file=sys.stderr)
            return False
        session.lib.tk_client_location_poiKeySearchWithName_city_code_city_page_index_page_size(
            session.client, "公园".encode(), b"", "北京".encode(), 1, 10)
        if not session.wait(2):
            print("no answer from %s" % service, file=sys.stderr)
            return False
    finally:
        session.close()

    ok = True
    for kind, value in session.events:
        if kind == "reverse":
            print("address: %s" % value["address"])
            for level_type, name in value["levels"]:
                print("  %s: %s" % (level_type, name))
            print("point: %.6f, %.6f" % value["point"])
        elif kind == "poi":
            print("places:")
            for name, point in value:
                print("  %s [%s]" % (name, point))
        elif kind == "error":
            print("error: %s" % value, file=sys.stderr)
            ok = False
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--lib", default=os.environ.get("TOVIK_LIBRARY") or ctypes.util.find_library("tovik"),
                        help="path of libtovik.so")
    parser.add_argument("--service", help="base address of the location service, e.g. http://127.0.0.1:8600")
    parser.add_argument("--key", default="demo", help="access key")
    args = parser.parse_args()
    if not args.lib:
        parser.error("libtovik not found: pass --lib or set TOVIK_LIBRARY")

    lib = load(args.lib)
    show_utilities(lib)
    if args.service and not ask_service(lib, args.service, args.key):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
