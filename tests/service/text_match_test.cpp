#include <gtest/gtest.h>

#include "service/text_match.h"

namespace tovik::service {
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
      {"北京市", "北京市"},
      {"北京，海淀", "北京 海淀"},            // full-width comma separates
      {"МОСКВА", "москва"},
      {std::string("ab\xff\xfe" "cd"), "ab cd"},  // invalid UTF-8 is a separator
      {std::string("\xe5\x8c"), ""},             // truncated sequence
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextMatch::fold(c.text), c.folded) << c.text;
  }
  EXPECT_EQ(TextMatch::words("New  York-City"), (Words{"new", "york", "city"}));
}

TEST(TextMatchTest, FullTextQueriesQuoteEveryWord) {
  EXPECT_EQ(TextMatch::ftsQuery({"new", "york"}, "", true), "\"new\"* AND \"york\"*");
  EXPECT_EQ(TextMatch::ftsQuery({"paris"}, "name", false), "name : \"paris\"*");
  // Short Latin words are matched whole, not as prefixes of a large part of the index.
  EXPECT_EQ(TextMatch::ftsQuery({"a", "la", "san"}, "", false), "\"a\" OR \"la\" OR \"san\"*");
  EXPECT_EQ(TextMatch::ftsQuery({"北", "北京"}, "", true), "\"北\" AND \"北京\"*");
  // Query syntax in the words stays inside the quotes.
  EXPECT_EQ(TextMatch::ftsQuery({"x\"y", "near"}, "", true), "\"x\"\"y\"* AND \"near\"*");
  const Words many(TextMatch::kMaxWords + 3, "abc");
  std::string expected;
  for (std::size_t k = 0; k < TextMatch::kMaxWords; ++k) {
    expected += (k == 0 ? "" : " OR ") + std::string("\"abc\"*");
  }
  EXPECT_EQ(TextMatch::ftsQuery(many, "", false), expected);
}

TEST(TextMatchTest, RelevanceRanksExactOverPrefixOverPartial) {
  const double exact = TextMatch::relevance({"paris"}, "París");
  const double prefix = TextMatch::relevance({"par"}, "Paris");
  const double oneOfTwo = TextMatch::relevance({"york"}, "New York");
  const double none = TextMatch::relevance({"lyon"}, "Paris");
  EXPECT_EQ(exact, 1.0);
  EXPECT_GT(prefix, oneOfTwo);
  EXPECT_GT(oneOfTwo, 0.0);
  EXPECT_EQ(none, 0.0);
  EXPECT_EQ(TextMatch::relevance({}, "Paris"), 0.0);
  EXPECT_EQ(TextMatch::relevance({"北京"}, "北京市"), 0.9 * 0.6);
}

TEST(TextMatchTest, RegionWordsExplainTheRestOfTheQuery) {
  const double alone = TextMatch::relevance({"haidian", "beijing"}, "Haidian");
  const double explained = TextMatch::relevance({"haidian", "beijing"}, "Haidian", {"beijing", "北京市", "中国"});
  EXPECT_LT(alone, explained);
  EXPECT_DOUBLE_EQ(explained, 0.9);
  // The region alone never makes a match.
  EXPECT_EQ(TextMatch::relevance({"beijing"}, "Haidian", {"beijing"}), 0.0);
}

TEST(TextMatchTest, MatchesAllNeedsEveryWord) {
  EXPECT_TRUE(TextMatch::matchesAll({"saint", "den"}, "Saint-Denis"));
  EXPECT_FALSE(TextMatch::matchesAll({"saint", "lyon"}, "Saint-Denis"));
  EXPECT_FALSE(TextMatch::matchesAll({"sa"}, "Saint-Denis")) << "a short word must be a whole word";
  EXPECT_TRUE(TextMatch::matchesAll({"la", "paz"}, "La Paz"));
  EXPECT_TRUE(TextMatch::matchesAll({}, "Anything"));
}

}  // namespace
}  // namespace tovik::service
