#!/usr/bin/env python3
"""A recorded track with the tovik package: converted to GCJ-02 and back in one call each,
measured on the sphere and the ellipsoid, and, given a service, the address of its first point
(a blocking call) and the places around its last one and along it (async calls, side by side).

    python3 track.py [TRACK.csv] [--service URL] [--key KEY]

TRACK.csv has a header line and time,latitude,longitude rows in WGS-84, like
data/beijing_walk.csv. The package is Debian's dist-packages one: after installing the kit
under another prefix, set PYTHONPATH=<prefix>/lib/python3/dist-packages.
"""

import argparse
import asyncio

import numpy as np
import tovik


def show_track(path):
    wgs = np.loadtxt(path, delimiter=",", skiprows=1, usecols=(1, 2))
    gcj = tovik.transform(wgs, "wgs84", "gcj02")
    back = tovik.transform(gcj, "gcj02", "wgs84", inverse="precise")
    print(f"{len(wgs)} points; first in GCJ-02: {gcj[0, 0]:.6f}, {gcj[0, 1]:.6f}")
    print(f"back to WGS-84: at most {tovik.distance(wgs, back, ellipsoid=True).max():.1e} m off")
    print(f"length: {tovik.track_length(wgs):.3f} m on the sphere, "
          f"{tovik.track_length(wgs, ellipsoid=True):.3f} m on the ellipsoid")
    return wgs


async def around(client, wgs):
    """Two calls in flight at once on asyncio's loop."""
    return await asyncio.gather(client.nearby_search_async("", tuple(wgs[-1]), 3000, orderby="distance"),
                                client.place_search_async("Jingshan", "北京市"))


def ask_service(client, wgs):
    here = client.reverse(*wgs[0], timeout=35)  # WGS-84; the client sends it in GCJ-02
    print(f"address: {here['location']['address']['name']}")
    nearby, found = asyncio.run(around(client, wgs))
    print("nearby: " + ", ".join(f"{place['name']} ({place['distance']:.0f} m)" for place in nearby))
    print("found: " + ", ".join(f"{place['name']} [{place['geoPoint']}]" for place in found))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("track", nargs="?", default="data/beijing_walk.csv")
    parser.add_argument("--service", help="the location service, for example http://127.0.0.1:8600")
    parser.add_argument("--key", default="demo", help="access key")
    args = parser.parse_args()
    wgs = show_track(args.track)
    if args.service:
        try:
            ask_service(tovik.Client(args.key, service=args.service, agree=True), wgs)
        except (tovik.Error, TimeoutError) as error:
            print(f"error: {error}")
            return 1
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
