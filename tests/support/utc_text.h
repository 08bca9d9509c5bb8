#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace tovik::test {

/// `time` as UTC to the millisecond, "2024-05-01T02:00:00.000Z": stable text for expected files.
inline std::string utcText(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const auto seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[40];
  const auto length = std::strftime(text, sizeof text, "%FT%T", &utc);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

}  // namespace tovik::test
