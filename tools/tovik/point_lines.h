#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tovik/system/location.h"

namespace CLI {
class App;
}  // namespace CLI

namespace tovik::cli {

/// How the lines of standard input hold their points (`--order`, `--header`, `--columns`,
/// `--delimiter` of transform and distance).
struct PointLines {
  bool lonLat = false;          // the first of the two fields is the longitude
  bool header = false;          // the first line is a header, copied through
  std::size_t firstField = 0;   // 0-based fields of the two numbers, in the order above
  std::size_t secondField = 1;
  char delimiter = ',';

  /// Reads the options' texts: "latlon" or "lonlat", "I,J" (1-based, different), one character
  /// or "tab". A `UsageError` naming the option for anything else.
  static PointLines fromOptions(std::string_view order, bool header, std::string_view columns,
                                std::string_view delimiter);

  /// A line split around its two numbers: the text before, between and after them, by position.
  struct Parsed {
    Coordinate point;
    std::string_view before;
    std::string_view between;
    std::string_view after;
  };
  /// The point of `line`; none unless both fields are finite numbers (spaces around them are
  /// fine).
  std::optional<Parsed> parse(std::string_view line) const;

  /// What a line should look like, for messages: "LAT,LON", "LON<tab>LAT", "numbers in fields 2 and 3".
  std::string expected() const;
};

/// The texts of those options as a command line gives them.
struct LineOptions {
  std::string order = "latlon";
  bool header = false;
  std::string columns;
  std::string delimiter = ",";

  PointLines lines() const { return PointLines::fromOptions(order, header, columns, delimiter); }
};

/// All of standard input; none when it cannot be read (`errno` says why).
std::optional<std::string> readStandardInput();

/// Adds `--order`, `--header`, `--columns` and `--delimiter` to `command`.
void addLineOptions(CLI::App& command, LineOptions& options);

}  // namespace tovik::cli
