#include "tovik/model/json_document.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tovik/model/decoding_error.h"

namespace tovik {
namespace {

using nlohmann::json;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The value of a JSON number's text if it is exactly a whole number within the signed 64-bit
// range. The number is digits × 10^exponent: leading zeros add nothing, trailing zeros move
// into the exponent, and what is left must need no negative exponent and fit in 64 bits.
std::optional<std::int64_t> wholeInt64(std::string_view text) {
  std::size_t at = 0;
  const bool negative = at < text.size() && text[at] == '-';
  if (negative) ++at;
  const std::size_t integerBegin = at;
  while (at < text.size() && isDigit(text[at])) ++at;
  const std::size_t integerEnd = at;
  std::size_t fractionBegin = at;
  std::size_t fractionEnd = at;
  if (at < text.size() && text[at] == '.') {
    fractionBegin = ++at;
    while (at < text.size() && isDigit(text[at])) ++at;
    fractionEnd = at;
  }
  // Saturates far beyond any exponent that could still give an int64; the text's own length
  // (the fraction digits) stays well inside the range of the sum below.
  constexpr std::int64_t kExponentCap = std::int64_t{1} << 40;
  std::int64_t exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    const bool negativeExponent = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    const std::size_t exponentBegin = at;
    for (; at < text.size() && isDigit(text[at]); ++at) {
      exponent = std::min(kExponentCap, exponent * 10 + (text[at] - '0'));
    }
    if (at == exponentBegin) return std::nullopt;
    if (negativeExponent) exponent = -exponent;
  }
  if (at != text.size() || integerBegin == integerEnd) return std::nullopt;

  // The digits of the integer and fraction parts as one sequence.
  const std::size_t count = (integerEnd - integerBegin) + (fractionEnd - fractionBegin);
  const auto digit = [&](std::size_t index) {
    const std::size_t integerCount = integerEnd - integerBegin;
    return index < integerCount ? text[integerBegin + index] : text[fractionBegin + index - integerCount];
  };
  std::size_t first = 0;
  while (first < count && digit(first) == '0') ++first;
  if (first == count) return 0;  // every digit zero, "-0.0" included
  std::size_t last = count - 1;
  while (digit(last) == '0') --last;
  const std::int64_t scale = exponent - static_cast<std::int64_t>(fractionEnd - fractionBegin) +
                             static_cast<std::int64_t>(count - 1 - last);
  if (scale < 0) return std::nullopt;  // a non-zero digit after the decimal point
  if (static_cast<std::int64_t>(last - first + 1) + scale > std::numeric_limits<std::uint64_t>::digits10 + 1) {
    return std::nullopt;  // at least 10^20
  }
  std::uint64_t magnitude = 0;
  const auto times10Plus = [&magnitude](std::uint64_t add) {
    return !__builtin_mul_overflow(magnitude, std::uint64_t{10}, &magnitude) &&
           !__builtin_add_overflow(magnitude, add, &magnitude);
  };
  for (std::size_t index = first; index <= last; ++index) {
    if (!times10Plus(static_cast<std::uint64_t>(digit(index) - '0'))) return std::nullopt;
  }
  for (std::int64_t step = 0; step < scale; ++step) {
    if (!times10Plus(0)) return std::nullopt;
  }
  constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!negative) {
    return magnitude <= kLargest ? std::optional<std::int64_t>(static_cast<std::int64_t>(magnitude)) : std::nullopt;
  }
  if (magnitude > kLargest + 1) return std::nullopt;
  return magnitude == kLargest + 1 ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(magnitude);
}

// The parser's input: the text, telling `progress` how far the parser has read.
class TrackedInput {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  TrackedInput(const char* at, const char** progress) : at_(at), progress_(progress) {}
  reference operator*() const { return *at_; }
  TrackedInput& operator++() {
    *progress_ = ++at_;
    return *this;
  }
  TrackedInput operator++(int) {
    TrackedInput before = *this;
    ++*this;
    return before;
  }
  bool operator==(const TrackedInput& other) const { return at_ == other.at_; }

 private:
  const char* at_;
  const char** progress_;
};

// Builds the document from nlohmann's SAX events, as its own DOM parser does, with the depth
// bound, the value budget and the whole-number rule of `parseJsonDocument` added.
class DocumentBuilder {
 public:
  DocumentBuilder(json& root, const char* begin) : root_(root), begin_(begin), read_(begin) {}

  const char** progress() { return &read_; }

  bool null() { return put(nullptr) != nullptr; }
  bool boolean(bool value) { return put(value) != nullptr; }
  bool number_integer(json::number_integer_t value) { return put(value) != nullptr; }
  bool number_unsigned(json::number_unsigned_t value) { return put(value) != nullptr; }
  bool number_float(json::number_float_t value, const json::string_t& text) {
    if (const auto whole = wholeInt64(text)) {
      return put(json::number_integer_t{*whole}) != nullptr;
    }
    return put(value) != nullptr;
  }
  bool string(json::string_t& value) { return put(std::move(value)) != nullptr; }
  bool binary(json::binary_t& value) { return put(std::move(value)) != nullptr; }

  bool start_object(std::size_t /*unknown size*/) { return open(json::value_t::object); }
  bool key(json::string_t& key) {
    // operator[] keeps the last of repeated keys, as nlohmann's parser does.
    member_ = &(*open_.back())[std::move(key)];
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t /*unknown size*/) { return open(json::value_t::array); }
  bool end_array() { return close(); }

  template <class Exception>
  bool parse_error(std::size_t /*position*/, const std::string& /*last token*/, const Exception& error) {
    throw error;
  }

 private:
  // Stores a scalar or a fresh container where the parser is and returns where it went.
  template <class Value>
  json* put(Value&& value) {
    if (++values_ > kJsonValueAllowance + static_cast<std::size_t>(read_ - begin_) / kJsonBytesPerValue) {
      throw DecodingError("", "the document holds more values than its size allows");
    }
    if (open_.empty()) {
      root_ = json(std::forward<Value>(value));
      return &root_;
    }
    json& container = *open_.back();
    if (container.is_array()) {
      container.emplace_back(std::forward<Value>(value));
      return &container.back();
    }
    *member_ = json(std::forward<Value>(value));
    return member_;
  }

  bool open(json::value_t kind) {
    if (open_.size() >= kMaxJsonDepth) {
      throw DecodingError("", "the document nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    open_.push_back(put(kind));
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  json& root_;
  const char* const begin_;
  const char* read_;  // where the parser has read to
  std::size_t values_ = 0;
  std::vector<json*> open_;  // the containers being filled, outermost first
  json* member_ = nullptr;   // the value of the object member whose key came last
};

}  // namespace

json parseJsonDocument(std::string_view text) {
  json document;
  DocumentBuilder builder(document, text.data());
  json::sax_parse(TrackedInput(text.data(), builder.progress()), TrackedInput(text.data() + text.size(), nullptr),
                  &builder);
  return document;
}

}  // namespace tovik
