// One line of an NMEA log: whatever the bytes, the parser gives either a sentence or a
// reason, never both, and what it accepts is whole, checksummed and physically possible.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "tovik/providers/nmea_parser.h"

namespace {

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

void checkPosition(const std::optional<tovik::Coordinate>& position) {
  if (position) {
    check(std::isfinite(position->latitude) && std::abs(position->latitude) <= 90);
    check(std::isfinite(position->longitude) && std::abs(position->longitude) <= 180);
  }
}

void checkTime(const std::optional<std::chrono::milliseconds>& time) {
  check(!time || (time->count() >= 0 && *time < std::chrono::hours(24) + std::chrono::seconds(1)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto result = tovik::NmeaParser::parseLine(line);
  check(result.sentence.has_value() != result.failure.has_value());
  if (!result.sentence) {
    return 0;
  }
  check(size <= tovik::NmeaParser::kMaxLineLength);
  const auto dollar = line.find('$');
  const auto star = line.rfind('*');
  check(dollar != std::string_view::npos && star != std::string_view::npos && dollar < star);
  std::visit(
      [](const auto& sentence) {
        using T = std::decay_t<decltype(sentence)>;
        check(sentence.talker.size() == 2);
        if constexpr (std::is_same_v<T, tovik::NmeaGga>) {
          checkPosition(sentence.position);
          checkTime(sentence.time);
          check(!sentence.hdop || (std::isfinite(*sentence.hdop) && *sentence.hdop >= 0));
        } else if constexpr (std::is_same_v<T, tovik::NmeaRmc>) {
          checkPosition(sentence.position);
          checkTime(sentence.time);
          check(!sentence.date || sentence.date->ok());
          check(!sentence.course || (std::isfinite(*sentence.course) && *sentence.course >= 0 && *sentence.course <= 360));
        } else {
          check(sentence.fixType >= 1 && sentence.fixType <= 3);
        }
      },
      *result.sentence);
  return 0;
}
