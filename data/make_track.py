#!/usr/bin/env python3
"""Writes the NMEA logs under data/: a walk around Tiananmen Square and a log of good and
bad lines for the replay tests. Run from anywhere; the output is deterministic."""

import math
import os

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


def write(name, lines, crlf_every=0):
    with open(os.path.join(HERE, name), "w", newline="") as out:
        for n, line in enumerate(lines):
            out.write(line + ("\r\n" if crlf_every and n % crlf_every == 0 else "\n"))


if __name__ == "__main__":
    write("beijing_walk.nmea", beijing_walk(), crlf_every=0)
    write("bad_lines.nmea", bad_lines(), crlf_every=3)
