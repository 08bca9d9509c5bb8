#include "tools/tovik/number_arguments.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "tools/tovik/usage_error.h"

namespace tovik::cli {
namespace {

// std::from_chars takes a leading minus but no plus sign.
std::string_view withoutPlus(std::string_view text) {
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
    text.remove_prefix(1);
  }
  return text;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// A whole number; `tooLarge` tells a number beyond 64 bits from text that is no number.
std::optional<std::int64_t> readWhole(std::string_view text, bool& tooLarge) {
  text = withoutPlus(text);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool whole = !text.empty() && end == text.data() + text.size();
  tooLarge = whole && error == std::errc::result_out_of_range;
  if (!whole || error != std::errc()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<double> readNumber(std::string_view text) {
  text = withoutPlus(text);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

double parseNumber(std::string_view name, std::string_view text) {
  if (const auto value = readNumber(text)) {
    return *value;
  }
  throw UsageError(std::string(name) + ": expected a number, got " + quoted(text));
}

std::int32_t parseInt32(std::string_view name, std::string_view text) {
  bool tooLarge = false;
  const auto value = readWhole(text, tooLarge);
  if (!value && !tooLarge) {
    throw UsageError(std::string(name) + ": expected a whole number, got " + quoted(text));
  }
  if (tooLarge || *value < std::numeric_limits<std::int32_t>::min() ||
      *value > std::numeric_limits<std::int32_t>::max()) {
    throw UsageError(std::string(name) + ": " + std::string(text) + " is out of range (-2147483648 to 2147483647)");
  }
  return static_cast<std::int32_t>(*value);
}

std::int64_t parseCount(std::string_view name, std::string_view text) {
  bool tooLarge = false;
  const auto value = readWhole(text, tooLarge);
  if (tooLarge) {
    throw UsageError(std::string(name) + ": " + std::string(text) + " is too large");
  }
  if (!value) {
    throw UsageError(std::string(name) + ": expected a whole number, got " + quoted(text));
  }
  if (*value < 1) {
    throw UsageError(std::string(name) + ": must be at least 1, got " + std::string(text));
  }
  return *value;
}

}  // namespace tovik::cli
