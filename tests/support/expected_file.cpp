#include "support/expected_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace tovik::test {
namespace {

// The lines from `from` on, each ended by a newline.
std::string joined(const std::vector<std::string>& lines, std::size_t from = 0) {
  std::string text;
  for (std::size_t i = from; i < lines.size(); ++i) text += lines[i] + "\n";
  return text;
}

}  // namespace

std::filesystem::path ExpectedFiles::path(const std::string& name) const {
  return std::filesystem::path(TOVIK_TESTS_DIR) / folder_ / "data" / (name + ".expected");
}

std::vector<std::string> ExpectedFiles::lines(const std::string& name) const {
  std::ifstream in(path(name));
  EXPECT_TRUE(in) << path(name) << " is missing (TOVIK_REGENERATE=1 writes it)";
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void ExpectedFiles::expectSame(const std::vector<std::string>& lines, const std::string& name, Match match) const {
  if (regenerating()) {
    std::ofstream(path(name)) << joined(lines);
    return;
  }
  const auto expected = this->lines(name);
  if (match == Match::subsequence) {
    auto next = expected.begin();
    for (const auto& line : lines) {
      next = std::find(next, expected.end(), line);
      ASSERT_TRUE(next != expected.end()) << line << "\nis not in " << path(name) << " after the line before";
      ++next;
    }
    return;
  }
  std::size_t missed = 0;
  if (match == Match::tail && expected.size() > lines.size())
    missed = std::min<std::size_t>(expected.size() - lines.size(), 10);
  // As text, so that a failure shows the difference line by line.
  EXPECT_EQ(joined(lines), joined(expected, missed)) << "against " << path(name);
}

bool regenerating() {
  const char* regenerate = std::getenv("TOVIK_REGENERATE");
  return regenerate != nullptr && regenerate == std::string_view("1");
}

}  // namespace tovik::test
