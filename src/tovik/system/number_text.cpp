#include "tovik/system/number_text.h"

#include <array>
#include <charconv>

namespace tovik {

void appendShortestText(std::string& text, double value) {
  // The longest shortest form, "-2.2250738585072014e-308", fits.
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  text.append(buffer.data(), result.ptr);
}

std::string shortestText(double value) {
  std::string text;
  appendShortestText(text, value);
  return text;
}

std::string shortestPlainText(double value) {
  // The longest fixed form of a double (about 1e308, or 2^-1074 written out) fits.
  std::array<char, 1100> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
  std::string text(buffer.data(), result.ptr);
  if (text.find('.') == std::string::npos && text.find("inf") == std::string::npos &&
      text.find("nan") == std::string::npos) {
    text += ".0";
  }
  return text;
}

}  // namespace tovik
