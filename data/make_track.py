#!/usr/bin/env python3
"""Writes the NMEA logs under data/: a walk around Tiananmen Square, a log of good and bad
lines for the replay tests, and the geofence logs (a device standing still for an hour, a walk
out of a fence) with the walk's fences as GeoJSON. Run from anywhere; the output is
deterministic (the geofence logs draw from a generator with a fixed seed)."""

import json
import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
KNOTS_PER_MPS = 1 / 0.514444


def sentence(body):
    checksum = 0
    for c in body.encode("ascii"):
        checksum ^= c
    return "$%s*%02X" % (body, checksum)


def lat_field(lat):
    d = int(abs(lat))
    return "%02d%07.4f,%s" % (d, (abs(lat) - d) * 60, "N" if lat >= 0 else "S")


def lon_field(lon):
    d = int(abs(lon))
    return "%03d%07.4f,%s" % (d, (abs(lon) - d) * 60, "E" if lon >= 0 else "W")


def hms(seconds):
    return "%02d%02d%05.2f" % (seconds // 3600, seconds // 60 % 60, seconds % 60)


def epoch(t, lat, lon, speed, course, hdop, vdop, sats, alt=44.3, sep=-9.0, date="010524"):
    pdop = math.hypot(hdop, vdop)
    return [
        sentence("GNGGA,%s,%s,%s,1,%02d,%.1f,%.1f,M,%.1f,M,," % (hms(t), lat_field(lat), lon_field(lon), sats, hdop, alt, sep)),
        sentence("GNGSA,A,3,01,03,08,11,14,17,19,22,28,32,,,%.1f,%.1f,%.1f" % (pdop, hdop, vdop)),
        sentence("GNRMC,%s,A,%s,%s,%.2f,%.1f,%s,,,A" % (hms(t), lat_field(lat), lon_field(lon), speed * KNOTS_PER_MPS, course, date)),
    ]


def beijing_walk():
    """60 epochs at 1 Hz, 1.4 m/s: east along Chang'an Avenue in front of Tiananmen,
    south along the east side of the square, then west again."""
    lat, lon = 39.9087, 116.3975
    metres_per_deg_lat = 111_000.0
    metres_per_deg_lon = 111_000.0 * math.cos(math.radians(lat))
    legs = [(90.0, 20), (180.0, 20), (270.0, 20)]  # course, seconds
    start = 2 * 3600  # 02:00:00 UTC, 10:00 in Beijing
    lines, t, i = [], start, 0
    for course, seconds in legs:
        for _ in range(seconds):
            hdop = 0.8 + 0.1 * (i % 5)
            vdop = 1.2 + 0.1 * (i % 4)
            lines += epoch(t, lat, lon, 1.4, course, hdop, vdop, 10 + i % 3, alt=44.3 + 0.1 * (i % 3))
            step = 1.4
            lat += step * math.cos(math.radians(course)) / metres_per_deg_lat
            lon += step * math.sin(math.radians(course)) / metres_per_deg_lon
            t += 1
            i += 1
    return lines


def bad_lines():
    """Three good epochs (02:00:00, :01, :03), one epoch without a fix (:02), and six lines
    a replay must skip and count."""
    good_a = epoch(7200, 39.9087, 116.3975, 1.4, 90.0, 0.9, 1.3, 11)
    good_b = [
        sentence("GPGGA,020001.00,3954.5220,N,11623.8510,E,1,09,1.2,44.0,M,,M,,"),  # no geoid separation
        sentence("GPRMC,020001.00,A,3954.5220,N,11623.8510,E,0.00,,010524,,,A"),  # no course, no GSA
    ]
    no_fix = [
        sentence("GNGGA,020002.00,,,,,0,00,99.9,,M,,M,,"),
        sentence("GNRMC,020002.00,V,,,,,,,010524,,,N"),
    ]
    good_d = epoch(7203, 39.9088, 116.3976, 1.4, 90.0, 1.0, 1.4, 12)
    bad_checksum = good_a[0][:-2] + ("00" if good_a[0][-2:] != "00" else "01")
    truncated = good_a[0][:24]
    unknown = sentence("GPGSV,3,1,11,01,45,120,40,03,30,200,35,08,10,310,28,11,60,045,42")
    garbage = "hello, world"
    absurd = sentence("GNGGA,020003.50,9512.0000,N,11623.8500,E,1,10,0.9,44.0,M,-9.0,M,,")
    overlong = sentence("GNGGA," + "1" * 600)
    lowercase = good_d[0][:-2] + good_d[0][-2:].lower()
    lines = good_a + [bad_checksum, truncated, "", unknown] + good_b + [garbage] + no_fix
    lines += [absurd, overlong, lowercase, good_d[1], good_d[2]]
    return lines


# The geofence logs: a gate at the south end of Tiananmen Square, in WGS-84 and, as the kit's
# `tovik transform wgs84 gcj02` and `tovik transform wgs84 bd09` give it, in GCJ-02 and BD-09.
GATE = (39.9087, 116.3975)
GATE_GCJ02 = (39.91010349934476, 116.40374357265176)
GATE_BD09 = (39.91644274963076, 116.4101165864734)
METRES_PER_DEG_LAT = 6371004.0 * math.pi / 180  # the kit's sphere


def offset(origin, east, north):
    """The point `east` and `north` metres from `origin` (small distances)."""
    lat, lon = origin
    return (lat + north / METRES_PER_DEG_LAT, lon + east / (METRES_PER_DEG_LAT * math.cos(math.radians(lat))))


def fix_epoch(t, point, hdop):
    """GGA and RMC of one second of a device at `point` (no GSA: the accuracy is HDOP x 5 m)."""
    lat, lon = point
    return [
        sentence("GPGGA,%s,%s,%s,1,09,%.1f,44.0,M,-9.0,M,," % (hms(t), lat_field(lat), lon_field(lon), hdop)),
        sentence("GPRMC,%s,A,%s,%s,0.00,,010524,,,A" % (hms(t), lat_field(lat), lon_field(lon))),
    ]


def geofence_stationary():
    """An hour at 1 Hz of a device standing at the gate, inside a 50 m fence: its fixes
    scatter with a standard deviation of 8 m east and north and claim 4 to 6 m (HDOP 0.8 to
    1.2); 1 % of them (36, never two in a row, never the first) lie 200 m away in a random
    direction and claim 2 m (HDOP 0.4), as a receiver's lone jumps do."""
    rng = random.Random(28)
    count, outliers = 3600, set()
    while len(outliers) < count // 100:
        i = rng.randrange(1, count)
        if not {i - 1, i, i + 1} & outliers:
            outliers.add(i)
    start, lines = 3 * 3600, []
    for i in range(count):
        if i in outliers:
            bearing = rng.uniform(0, 2 * math.pi)
            point, hdop = offset(GATE, 200 * math.sin(bearing), 200 * math.cos(bearing)), 0.4
        else:
            point, hdop = offset(GATE, rng.gauss(0, 8), rng.gauss(0, 8)), 0.8 + 0.1 * (i % 5)
        lines += fix_epoch(start + i, point, hdop)
    return lines


def geofence_walkout():
    """200 s at 1 Hz: a minute standing at the gate (scatter 1 m, HDOP 0.8: 4 m), 130 s walking
    east at 1.4 m/s, 10 s standing 182 m away."""
    rng = random.Random(29)
    start, lines = 4 * 3600, []
    for i in range(200):
        east = 1.4 * min(max(i - 60, 0), 130)
        point = offset(GATE, east + rng.gauss(0, 1), rng.gauss(0, 1))
        lines += fix_epoch(start + i, point, 0.8)
    return lines


def square(center, half):
    """A square ring of `half` metres either side of `center`, as GeoJSON [lon, lat] pairs,
    closed, counterclockwise."""
    corners = [(-half, -half), (half, -half), (half, half), (-half, half), (-half, -half)]
    return [[round(p[1], 7), round(p[0], 7)] for p in (offset(center, e, n) for e, n in corners)]


def geofence_walkout_fences():
    """The walk's fences: the gate's 50 m circle drawn in each datum (entry, exit, and a dwell
    after 30 s), and a 200 m courtyard around the gate with a 40 m hole where the device starts."""
    def circle(fence_id, center, datum):
        return {"type": "Feature", "geometry": {"type": "Point", "coordinates": [center[1], center[0]]},
                "properties": {"id": fence_id, "radius": 50, "datum": datum,
                               "transitions": ["enter", "exit", "dwell"], "loiter": 30}}
    courtyard = {"type": "Feature",
                 "geometry": {"type": "Polygon", "coordinates": [square(GATE, 100), square(GATE, 20)[::-1]]},
                 "properties": {"id": "courtyard", "transitions": ["enter", "exit"]}}
    features = [circle("gate", GATE, "wgs84"), circle("gate-gcj02", GATE_GCJ02, "gcj02"),
                circle("gate-bd09", GATE_BD09, "bd09"), courtyard]
    body = ",\n".join(" " + json.dumps(feature, ensure_ascii=False) for feature in features)
    return '{"type": "FeatureCollection", "features": [\n' + body + "\n]}\n"


def write(name, lines, crlf_every=0):
    with open(os.path.join(HERE, name), "w", newline="") as out:
        for n, line in enumerate(lines):
            out.write(line + ("\r\n" if crlf_every and n % crlf_every == 0 else "\n"))


if __name__ == "__main__":
    write("beijing_walk.nmea", beijing_walk(), crlf_every=0)
    write("bad_lines.nmea", bad_lines(), crlf_every=3)
    write("geofence_stationary.nmea", geofence_stationary())
    write("geofence_walkout.nmea", geofence_walkout())
    with open(os.path.join(HERE, "geofence_walkout.geojson"), "w") as out:
        out.write(geofence_walkout_fences())
