#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tovik::cli {

/// The finite decimal number `text` spells exactly (an optional sign, digits, a point, an
/// exponent); none for anything else, "nan" and "inf" included.
std::optional<double> readNumber(std::string_view text);

/// `readNumber`, or a `UsageError` naming the argument `name`.
double parseNumber(std::string_view name, std::string_view text);
/// A whole number in the range of a 32-bit signed integer, or a `UsageError`.
std::int32_t parseInt32(std::string_view name, std::string_view text);
/// A whole number of at least 1, or a `UsageError`.
std::int64_t parseCount(std::string_view name, std::string_view text);

}  // namespace tovik::cli
