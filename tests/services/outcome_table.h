#pragma once

// Test cases kept as data, one file per family under tests/<dir>/data/:
//
//   # a comment
//   --- the case's name
//   key: value          (a key may repeat; "\xHH" in a value is that byte)
//     more value        (a line that starts with a space continues the value)

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/test_server.h"
#include "support/escaped_text.h"

namespace tovik::test {

struct OutcomeCase {
  std::string name;
  std::multimap<std::string, std::string> fields;  // equal keys in file order

  std::vector<std::string> all(const std::string& key) const {
    std::vector<std::string> values;
    for (auto [at, end] = fields.equal_range(key); at != end; ++at) {
      values.push_back(at->second);
    }
    return values;
  }
  std::optional<std::string> get(const std::string& key) const {
    const auto found = fields.find(key);
    return found == fields.end() ? std::nullopt : std::optional(found->second);
  }
  std::string operator[](const std::string& key) const { return get(key).value_or(""); }
  /// The `key` items, each "name`separator`value", as (name, value) in file order.
  template <class Pairs = std::multimap<std::string, std::string>>
  Pairs pairs(const std::string& key, const std::string& separator) const {
    Pairs made;
    for (const auto& item : all(key)) {
      const auto at = item.find(separator);
      made.insert(made.end(), {item.substr(0, at), item.substr(at + separator.size())});
    }
    return made;
  }
};

/// The cases of tests/`relative` in the source tree.
inline std::vector<OutcomeCase> loadOutcomes(const std::string& relative) {
  std::ifstream in(std::filesystem::path(TOVIK_TESTS_DIR) / relative);
  std::vector<OutcomeCase> cases;
  std::string* value = nullptr;  // the one a continuation line extends
  for (std::string line; std::getline(in, line);) {
    const auto colon = line.find(':');
    if (line.starts_with("--- ")) {
      cases.push_back({line.substr(4), {}});
      value = nullptr;
    } else if (line.starts_with(' ') && value) {
      *value += "\n" + unescaped(line);
    } else if (!cases.empty() && colon != std::string::npos && !line.starts_with('#')) {
      const auto text = line.substr(colon + (line.compare(colon, 2, ": ") == 0 ? 2 : 1));
      value = &cases.back().fields.emplace(line.substr(0, colon), unescaped(text))->second;
    } else {
      EXPECT_TRUE(line.empty() || line.starts_with('#')) << relative << ": " << line;
    }
  }
  EXPECT_FALSE(cases.empty()) << "no cases in " << relative;
  return cases;
}

/// The server's answer a case describes: "reply" is a status (200 when absent), "dropped",
/// "cut-off STATUS" or "delayed MS"; then "body", padded with spaces to "pad-to" bytes, and
/// "header: Name: value".
inline CannedResponse replyOf(const OutcomeCase& c) {
  std::string body = c["body"];
  body.resize(std::stoul(c.get("pad-to").value_or(std::to_string(body.size()))), ' ');
  const std::string how = c.get("reply").value_or("200");
  const auto digits = how.find_first_of("0123456789");
  const int number = digits == std::string::npos ? 0 : std::stoi(how.substr(digits));
  auto made = how == "dropped"             ? CannedResponse::dropped()
              : how.starts_with("cut-off") ? CannedResponse::cutOff(number, body)
              : how.starts_with("delayed") ? CannedResponse::delayed(std::chrono::milliseconds(number))
                                           : CannedResponse::json(number, body);
  made.headers = c.pairs<decltype(made.headers)>("header", ": ");
  return made;
}

}  // namespace tovik::test
