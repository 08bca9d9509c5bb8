#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tovik::test {

/// The whole of the file at `path`; "" when it cannot be read, which the checks on it then show.
inline std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace tovik::test
