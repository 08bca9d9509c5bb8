#pragma once

#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tovik {

/// Arrays and objects may nest this deep in an answer, counting the top level as 1. The
/// deepest answer the kit decodes nests 5 deep (the entries of a location's, or of a geocode
/// item's, address context); the rest is room for members the kit ignores. Without a bound a
/// few megabytes of "[[[[..." cost seconds and hundreds of megabytes before failing.
inline constexpr std::size_t kMaxJsonDepth = 64;

/// A document may hold this many values (scalars, arrays and objects, each counted once),
/// plus one for every `kJsonBytesPerValue` bytes the parser has read so far. The allowance
/// covers the largest real answer, a page of places, many times over; the rate lets a long
/// list of real places through (they spend tens of bytes per value) while "[{},{},..." or
/// "[1,1,..." fails within a few hundred kilobytes instead of building millions of values.
inline constexpr std::size_t kJsonValueAllowance = 16384;
inline constexpr std::size_t kJsonBytesPerValue = 4;

/// Parses the text of a service answer for strict decoding by the result classes. Differs
/// from `nlohmann::json::parse` in two ways:
/// - nesting deeper than `kMaxJsonDepth`, or more values than the budget above, throws
///   `DecodingError` as soon as the parser gets there, so hostile bodies fail after little
///   work;
/// - a number written with a fraction or exponent whose value as written is a whole number
///   within the signed 64-bit range ("1.7e12", "1700000000000.0", "-0.0") is stored as an
///   integer; every other such number keeps its double. A whole-number field can then judge
///   the number as written, not the double it rounds to (`1700000000000.0000001` stays a
///   double and is not taken for 1700000000000).
/// Malformed text throws `nlohmann::json::parse_error` (or `out_of_range` for a number too
/// large for a double), as `nlohmann::json::parse` does.
nlohmann::json parseJsonDocument(std::string_view text);

}  // namespace tovik
