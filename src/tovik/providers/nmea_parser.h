#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "tovik/providers/nmea_sentence.h"

namespace tovik {

/// Parses one line of an NMEA 0183 log into a GGA, RMC or GSA sentence of any two-letter
/// talker. A line is accepted only whole: a `*hh` checksum that matches, the fields each
/// sentence needs, and every present field well formed and within physical bounds.
/// Works on any input without reading out of range (it is fuzzed).
class NmeaParser {
 public:
  /// Longer lines are rejected; the standard allows 82 characters.
  static constexpr std::size_t kMaxLineLength = 512;

  enum class Failure {
    blank,                // nothing but white space
    notASentence,         // does not start with '$'
    malformed,            // no checksum, truncated, bad or missing fields, values out of range
    badChecksum,          // well framed, but the checksum does not match
    unsupportedSentence,  // a valid sentence of another type (GSV, VTG, proprietary ...)
  };

  struct Result {
    std::optional<NmeaSentence> sentence;
    std::optional<Failure> failure;  // set exactly when `sentence` is not
  };

  static Result parseLine(std::string_view line);
  static std::optional<NmeaSentence> parse(std::string_view line) { return parseLine(line).sentence; }
  /// XOR of the characters between '$' and '*'.
  static std::uint8_t checksum(std::string_view body);
};

}  // namespace tovik
