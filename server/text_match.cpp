#include "server/text_match.h"

#include <algorithm>
#include <cstdint>

namespace tovik::server {

namespace {

// Base letters of U+00C0..U+00FF and U+0100..U+017F, lower case; '?' keeps the letter.
constexpr std::string_view kLatin1 = "aaaaaa?ceeeeiiiidnooooo?ouuuuy??aaaaaa?ceeeeiiiidnooooo?ouuuuy?y";
constexpr std::string_view kLatinExtendedA =
    "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiii??jjkkkllllllllllnnnnnnnnnoooooo??rrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";

/// Decodes one UTF-8 sequence at `text[i]`; returns its length, or 0 when it is invalid.
std::size_t decode(std::string_view text, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  std::size_t len = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + len > text.size()) {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) {
      return 0;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return len;
}

void encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool isSeparator(char32_t cp) {
  if (cp < 0x80) {
    return !((cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9'));
  }
  return (cp >= 0x80 && cp <= 0xBF) || cp == 0xD7 || cp == 0xF7 || (cp >= 0x2000 && cp <= 0x206F) ||
         (cp >= 0x3000 && cp <= 0x303F) || (cp >= 0xFF00 && cp <= 0xFF0F) || (cp >= 0xFF1A && cp <= 0xFF20) ||
         (cp >= 0xFF3B && cp <= 0xFF40) || (cp >= 0xFF5B && cp <= 0xFF65) || cp == 0xFEFF;
}

char32_t foldLetter(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') {
    return cp + 0x20;
  }
  if (cp >= 0xC0 && cp <= 0xFF && kLatin1[cp - 0xC0] != '?') {
    return static_cast<char32_t>(kLatin1[cp - 0xC0]);
  }
  if (cp >= 0x100 && cp <= 0x17F && kLatinExtendedA[cp - 0x100] != '?') {
    return static_cast<char32_t>(kLatinExtendedA[cp - 0x100]);
  }
  if (cp >= 0x391 && cp <= 0x3A9) {  // Greek capitals
    return cp + 0x20;
  }
  if (cp >= 0x410 && cp <= 0x42F) {  // Cyrillic capitals
    return cp + 0x20;
  }
  if (cp >= 0x400 && cp <= 0x40F) {
    return cp + 0x50;
  }
  return cp;
}

/// Whether a query word may match as a prefix: short Latin prefixes ("a", "la") would
/// expand to a large part of the index; a two-character Chinese word is a real word.
bool matchesAsPrefix(const std::string& word) {
  std::size_t characters = 0;
  bool ascii = true;
  for (std::size_t i = 0; i < word.size();) {
    char32_t cp = 0;
    const std::size_t len = decode(word, i, cp);
    i += len == 0 ? 1 : len;
    ascii = ascii && cp < 0x80;
    ++characters;
  }
  return characters >= (ascii ? 3U : 2U);
}

/// How well one query word matches one name word: 1 equal, 0.6 a prefix, 0 otherwise.
double wordScore(const std::string& query, const std::string& word) {
  if (query == word) {
    return 1.0;
  }
  if (word.size() > query.size() && word.compare(0, query.size(), query) == 0) {
    return 0.6;
  }
  return 0.0;
}

}  // namespace

std::string TextMatch::fold(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool pendingSpace = false;
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    std::size_t len = decode(text, i, cp);
    if (len == 0) {
      len = 1;
      cp = U' ';
    }
    i += len;
    if (isSeparator(cp)) {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) {
      out += ' ';
      pendingSpace = false;
    }
    encode(foldLetter(cp), out);
  }
  return out;
}

std::vector<std::string> TextMatch::words(std::string_view text) {
  std::vector<std::string> result;
  const std::string folded = fold(text);
  std::size_t start = 0;
  while (start < folded.size()) {
    std::size_t end = folded.find(' ', start);
    if (end == std::string::npos) {
      end = folded.size();
    }
    result.emplace_back(folded.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

std::string TextMatch::ftsQuery(const std::vector<std::string>& words, std::string_view column, bool all) {
  std::string query;
  const std::size_t count = std::min(words.size(), kMaxWords);
  for (std::size_t k = 0; k < count; ++k) {
    if (k > 0) {
      query += all ? " AND " : " OR ";
    }
    if (!column.empty()) {
      query += column;
      query += " : ";
    }
    query += '"';
    for (const char c : words[k]) {
      query += c;
      if (c == '"') {
        query += '"';
      }
    }
    query += '"';
    if (matchesAsPrefix(words[k])) {
      query += '*';
    }
  }
  return query;
}

bool TextMatch::matchesAll(const std::vector<std::string>& queryWords, std::string_view name) {
  const std::vector<std::string> nameWords = words(name);
  return std::all_of(queryWords.begin(), queryWords.end(), [&](const std::string& query) {
    const bool prefix = matchesAsPrefix(query);
    return std::any_of(nameWords.begin(), nameWords.end(), [&](const std::string& word) {
      return prefix ? wordScore(query, word) > 0.0 : word == query;
    });
  });
}

double TextMatch::relevance(const std::vector<std::string>& queryWords, std::string_view name,
                            const std::vector<std::string>& regionWords) {
  if (queryWords.empty()) {
    return 0.0;
  }
  const std::vector<std::string> nameWords = words(name);
  if (nameWords.empty()) {
    return 0.0;
  }
  if (queryWords == nameWords) {
    return 1.0;
  }
  // Each name word is matched by its best query word; each query word is explained by the
  // name or, failing that, by the region.
  double matched = 0.0;
  for (const auto& word : nameWords) {
    double best = 0.0;
    for (const auto& query : queryWords) {
      best = std::max(best, wordScore(query, word));
    }
    matched += best;
  }
  if (matched == 0.0) {
    return 0.0;
  }
  std::size_t explained = 0;
  for (const auto& query : queryWords) {
    const auto matches = [&](const std::string& word) { return wordScore(query, word) > 0.0; };
    if (std::any_of(nameWords.begin(), nameWords.end(), matches) ||
        std::any_of(regionWords.begin(), regionWords.end(), matches)) {
      ++explained;
    }
  }
  const double nameCover = matched / static_cast<double>(nameWords.size());
  const double queryCover = static_cast<double>(explained) / static_cast<double>(queryWords.size());
  return 0.9 * nameCover * (0.5 + 0.5 * queryCover);
}

}  // namespace tovik::server
