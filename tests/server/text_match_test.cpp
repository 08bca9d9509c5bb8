#include <gtest/gtest.h>

#include <algorithm>

#include "server/text_match.h"

namespace tovik::server {
namespace {

using Words = std::vector<std::string>;

TEST(TextMatchTest, FoldsCaseAccentsAndPunctuation) {
  const struct {
    std::string text;
    std::string folded;
  } cases[] = {
      {"Sant Julià de Lòria", "sant julia de loria"},
      {"  Saint-Denis,  FRANCE ", "saint denis france"},
      {"Łódź", "lodz"},
      {"北京，海淀", "北京 海淀"},            // full-width comma separates
      {"МОСКВА", "москва"},
      {std::string("ab\xff\xfe" "cd"), "ab cd"},  // invalid UTF-8 is a separator
      {std::string("\xe5\x8c"), ""},             // truncated sequence
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextMatch::fold(c.text), c.folded) << c.text;
  }
  EXPECT_EQ(TextMatch::words("New  York-City"), (Words{"new", "york", "city"}));
}

TEST(TextMatchTest, FullTextQueriesQuoteEveryWord) {
  // Query syntax in the words stays inside the quotes.
  EXPECT_EQ(TextMatch::ftsQuery({"x\"y", "near"}, "name", true), "name : \"x\"\"y\"* AND name : \"near\"*");
  // Short Latin words are matched whole, not as prefixes of a large part of the index.
  EXPECT_EQ(TextMatch::ftsQuery({"a", "la", "san", "北"}, "", false), "\"a\" OR \"la\" OR \"san\"* OR \"北\"");
  const std::string many = TextMatch::ftsQuery(Words(TextMatch::kMaxWords + 3, "abc"), "", false);
  EXPECT_EQ(static_cast<std::size_t>(std::ranges::count(many, '*')), TextMatch::kMaxWords) << many;
}

TEST(TextMatchTest, RelevanceRanksExactOverPrefixOverPartial) {
  EXPECT_EQ(TextMatch::relevance({"paris"}, "París"), 1.0);
  EXPECT_GT(TextMatch::relevance({"par"}, "Paris"), TextMatch::relevance({"york"}, "New York"));
  EXPECT_GT(TextMatch::relevance({"york"}, "New York"), TextMatch::relevance({"lyon"}, "Paris"));
  // Region words explain the rest of the query, but the region alone never makes a match.
  EXPECT_DOUBLE_EQ(TextMatch::relevance({"haidian", "beijing"}, "Haidian", {"beijing", "北京市", "中国"}), 0.9);
  EXPECT_LT(TextMatch::relevance({"haidian", "beijing"}, "Haidian"), 0.9);
  EXPECT_EQ(TextMatch::relevance({"beijing"}, "Haidian", {"beijing"}), 0.0);
  EXPECT_TRUE(TextMatch::matchesAll({"saint", "den"}, "Saint-Denis"));
  EXPECT_FALSE(TextMatch::matchesAll({"saint", "lyon"}, "Saint-Denis"));
  EXPECT_FALSE(TextMatch::matchesAll({"sa"}, "Saint-Denis")) << "a short word must be a whole word";
}

}  // namespace
}  // namespace tovik::server
