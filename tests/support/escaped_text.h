#pragma once

#include <cstddef>
#include <string>

namespace tovik::test {

/// The bytes a line of a data file stands for: `\xHH` is that byte, `\r` and `\n` are CR and
/// LF; any other backslash stands for itself.
inline std::string unescaped(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = text[i] == '\\' && i + 1 < text.size() ? text[i + 1] : '\0';
    if (next == 'x' && i + 4 <= text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else if (next == 'r' || next == 'n') {
      bytes += next == 'r' ? '\r' : '\n';
      ++i;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

}  // namespace tovik::test
