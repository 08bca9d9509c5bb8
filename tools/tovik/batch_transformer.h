#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tovik/datum_conversion.h"
#include "tools/tovik/point_lines.h"

namespace tovik::cli {

class Output;

/// The batch form of `tovik transform`: reads "LAT,LON" lines, or as `lines` describes
/// (spaces around the numbers and CR-LF line ends are fine), converts them in blocks with the
/// kit's batch operation and writes each line back with its two numbers converted, each in its
/// shortest round-trip form, and its other fields as they were (with --json,
/// {"latitude":..,"longitude":..} only, and no header). Blank lines stay blank lines. The first
/// latitude outside [-90, 90] is converted like any other but named on standard error: the
/// columns are likely the other way round.
class BatchTransformer {
 public:
  static constexpr std::size_t kBlockPoints = 4096;

  struct Failure {
    bool badInput;  // a line that is not two numbers (a usage error), else an I/O failure
    std::string message;
  };

  BatchTransformer(DatumConversion conversion, bool json, PointLines lines = {});

  /// Converts everything `input` (a file descriptor) holds. On a bad line every line
  /// before it has been written, and the message names the line by its number.
  std::optional<Failure> run(int input, Output& output);

 private:
  /// Takes one line; false when it is bad.
  bool take(std::string_view line, Output& output);
  void convertPending();
  void append(Coordinate point, std::size_t index);

  /// Where a pending line's text around its numbers is kept, in kept_.
  struct Around {
    std::size_t start;
    std::size_t before;
    std::size_t between;
    std::size_t after;
  };

  DatumConversion conversion_;
  bool json_;
  PointLines lines_;
  bool warned_ = false;
  std::vector<Coordinate> pending_;
  std::vector<Around> around_;
  std::string kept_;
  std::vector<Coordinate> converted_;
  std::string text_;
  std::size_t lineNumber_ = 0;
};

}  // namespace tovik::cli
