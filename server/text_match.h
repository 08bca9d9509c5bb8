#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovik::server {

/// How names are compared: folding, words, full-text queries and the relevance of a match.
///
/// Folding lower-cases ASCII, Greek and Cyrillic letters, strips the accents of the Latin-1
/// and Latin Extended-A letters ("Julià" → "julia"), turns punctuation and invalid UTF-8 into
/// spaces, and keeps everything else (Chinese text included) as it is. A word is a run of
/// folded characters between spaces.
///
/// Relevance, from 0 to 1: 1 when the query's words are exactly the name's words; otherwise
/// 0.9 × (name words matched ÷ name words) × (0.5 + 0.5 × query words explained ÷ query
/// words), where a query word matches a name word it equals (counts 1) or begins (counts
/// 0.6), and a word that only matches the place's region explains itself without matching
/// the name.
class TextMatch {
 public:
  /// Query texts are cut to this many words.
  static constexpr std::size_t kMaxWords = 8;

  static std::string fold(std::string_view text);
  static std::vector<std::string> words(std::string_view text);

  /// An FTS5 query in which every word must match (`all`) or any word may; restricted to
  /// `column` unless it is empty. Words of three or more Latin characters, or two or more
  /// others (Chinese), match as prefixes; shorter ones only whole. Each word is quoted, so
  /// no query syntax can come from the caller's text.
  static std::string ftsQuery(const std::vector<std::string>& words, std::string_view column, bool all);

  /// True when every query word equals or begins a word of `name` (a word too short to
  /// match as a prefix must equal one), the rule the full-text query applies.
  static bool matchesAll(const std::vector<std::string>& queryWords, std::string_view name);

  /// Relevance of `name` for the query `queryWords`. `regionWords` are the words of the
  /// place's region names; query words found there count as explained.
  static double relevance(const std::vector<std::string>& queryWords, std::string_view name,
                          const std::vector<std::string>& regionWords = {});
};

}  // namespace tovik::server
