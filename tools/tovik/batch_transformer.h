#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tovik/datum_conversion.h"

namespace tovik::cli {

class Output;

/// The batch form of `tovik transform`: reads "LAT,LON" lines (spaces around the numbers
/// and CR-LF line ends are fine), converts them in blocks with the kit's batch operation
/// and writes one "LAT,LON" line per input line, each number in its shortest round-trip
/// form (with --json, {"latitude":..,"longitude":..}). Blank lines stay blank lines.
class BatchTransformer {
 public:
  static constexpr std::size_t kBlockPoints = 4096;

  struct Failure {
    bool badInput;  // a line that is not two numbers (a usage error), else an I/O failure
    std::string message;
  };

  BatchTransformer(DatumConversion conversion, bool json);

  /// Converts everything `input` (a file descriptor) holds. On a bad line every line
  /// before it has been written, and the message names the line by its number.
  std::optional<Failure> run(int input, Output& output);

  /// The point a line holds; none unless it is exactly two finite numbers and a comma.
  static std::optional<Coordinate> parseLine(std::string_view line);

 private:
  /// Takes one line; false when it is bad.
  bool take(std::string_view line);
  void convertPending();
  void append(Coordinate point);

  DatumConversion conversion_;
  bool json_;
  std::vector<Coordinate> pending_;
  std::vector<Coordinate> converted_;
  std::string text_;
  std::size_t lineNumber_ = 0;
};

}  // namespace tovik::cli
