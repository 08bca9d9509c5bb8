#pragma once

// The readers of the data tables beside the tests (tests/<folder>/data/): lines, rows of
// fields, named for the test listings. Header-only: every test program may use it.

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tovik::test {

using Strings = std::vector<std::string>;

/// The lines of tests/`folder`/data/`name` but blank ones and those starting with '#'.
inline Strings dataLines(const std::string& folder, const std::string& name) {
  const std::string path = TOVIK_TESTS_DIR "/" + folder + "/data/" + name;
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  Strings lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

/// The pieces of `text` between the `separator`s; none of an empty text.
inline Strings split(std::string_view text, std::string_view separator) {
  Strings pieces;
  for (std::size_t at = 0; !text.empty(); at += separator.size()) {
    const std::size_t end = text.find(separator, at);
    pieces.emplace_back(text.substr(at, end - at));
    if (end == std::string_view::npos) return pieces;
    at = end;
  }
  return pieces;
}

/// A script, or a row of a table, by name: test listings show only the name.
struct Named {
  std::string name;
  Strings lines;  // the script's lines, or the row's fields
};
inline void PrintTo(const Named& named, std::ostream* out) { *out << named.name; }

/// The rows of tests/`folder`/data/`name`, each named by its first field: fields split at
/// " | ", "-" for an empty field.
inline std::vector<Named> tableRows(const std::string& folder, const std::string& name) {
  std::vector<Named> rows;
  for (const std::string& line : dataLines(folder, name)) {
    Strings row = split(line, " | ");
    for (std::string& field : row) field = field == "-" ? "" : field;
    rows.push_back({.name = row[0], .lines = row});
  }
  return rows;
}

}  // namespace tovik::test
