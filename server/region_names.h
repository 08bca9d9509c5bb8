#pragma once

#include <optional>
#include <string_view>

namespace tovik::server {

/// Display names that the GeoNames place list lacks: countries by ISO 3166-1 alpha-2 code
/// (English; China in Chinese, as a Chinese user reads it) and Chinese names of China's
/// first-level divisions.
class RegionNames {
 public:
  /// The country's name, or nothing for a code the table does not know.
  static std::optional<std::string_view> countryName(std::string_view isoCode);
  /// The English name as well, for search (the same as `countryName` except for China).
  static std::optional<std::string_view> countryEnglishName(std::string_view isoCode);
  /// The alpha-2 code of a Natural Earth boundary, from its ISO 3166-1 numeric code ("156")
  /// or, for the few units without one, from its name there ("Kosovo"). Nothing for a
  /// disputed unit or an unknown code.
  static std::optional<std::string_view> countryOfBoundary(std::string_view numeric, std::string_view name);
  /// The Chinese name of a Chinese province, municipality or autonomous region, given its
  /// GeoNames code ("CN.22") and the English name the data gives for that code. Nothing
  /// when the code is unknown or the English name does not match the one expected for that
  /// code, so a renumbered data set falls back to its own names instead of wrong ones.
  static std::optional<std::string_view> chineseProvinceName(std::string_view code, std::string_view englishName);
};

}  // namespace tovik::server
