#pragma once

namespace tovik {

/// Where GCJ-02 differs from WGS-84: which points the WGS-84 → GCJ-02 transforms move (and so
/// where the inverse searches, which follow their forward transform, undo the offset).
///
/// - `rectangle`: longitude 72.004..137.8347 E, latitude 0.8293..55.8271 N, bounds included, a
///   NaN coordinate counting as inside. The contract of every transform that takes no region,
///   and the default wherever a region is chosen. It takes in all of Hong Kong, Macao, Taiwan,
///   Korea and Vietnam, the Philippines, half of Japan and most of India.
/// - `precise`: mainland China as Natural Earth's 1:10 m admin-0 boundaries draw it (version
///   4.1.0, public domain; Hong Kong, Macao, Taiwan with Kinmen and Matsu outside), plus the sea
///   within 12 nautical miles (22.2 km) of its land that lies nearer to it than to any other
///   country's land. The land boundary is that data's, quantised to 0.0036° × 0.0017°
///   (under 200 m); the data is drawn for maps at 1:10 million, so a point within a kilometre
///   or two of a land border, or of Hong Kong's or Macao's, may fall on the wrong side.
///   The sea band follows sub-cells of about 3 km. A non-finite coordinate is outside.
///   Answered from a table compiled into the kit (src/tovik/coord/china_region_table.inc,
///   made by scripts/make-china-region): no data file is read.
enum class Region { rectangle, precise };

}  // namespace tovik
