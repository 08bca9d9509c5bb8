#include "tools/tovik/batch_transformer.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>

#include "tools/tovik/number_arguments.h"
#include "tools/tovik/output.h"
#include "tovik/system/number_text.h"

namespace tovik::cli {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::size_t kWriteChunk = 1 << 20;
constexpr std::size_t kShownLineLength = 80;

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

void appendNumber(std::string& text, double value, bool json) {
  if (json && !std::isfinite(value)) {
    text += "null";  // JSON has no NaN or infinity
    return;
  }
  appendShortestText(text, value);
}

}  // namespace

BatchTransformer::BatchTransformer(DatumConversion conversion, bool json) : conversion_(conversion), json_(json) {
  pending_.reserve(kBlockPoints);
  converted_.reserve(kBlockPoints);
}

std::optional<Coordinate> BatchTransformer::parseLine(std::string_view line) {
  const auto comma = line.find(',');
  if (comma == std::string_view::npos) {
    return std::nullopt;
  }
  const auto latitude = readNumber(trimmed(line.substr(0, comma)));
  const auto longitude = readNumber(trimmed(line.substr(comma + 1)));
  if (!latitude || !longitude) {
    return std::nullopt;
  }
  return Coordinate{.latitude = *latitude, .longitude = *longitude};
}

std::optional<BatchTransformer::Failure> BatchTransformer::run(int input, Output& output) {
  std::vector<char> buffer(kReadChunk);
  std::string partial;  // the start of a line that goes on in the next chunk
  std::optional<Failure> failure;

  const auto badLine = [&](std::string_view line) {
    std::string shown(trimmed(line).substr(0, kShownLineLength));
    failure = Failure{true, "line " + std::to_string(lineNumber_) + ": expected LAT,LON, got '" + shown + "'"};
  };
  const auto writeOut = [&](bool all) {
    if (all || text_.size() >= kWriteChunk) {
      output.write(text_);
      text_.clear();
    }
  };

  bool atEnd = false;
  while (!failure && !atEnd) {
    const ssize_t got = ::read(input, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      failure = Failure{false, "cannot read standard input: " + std::generic_category().message(errno)};
      break;
    }
    atEnd = got == 0;
    std::string_view chunk(buffer.data(), static_cast<std::size_t>(got));
    while (!chunk.empty()) {
      const auto newline = chunk.find('\n');
      if (newline == std::string_view::npos) {
        partial.append(chunk);
        break;
      }
      std::string_view line = chunk.substr(0, newline);
      chunk.remove_prefix(newline + 1);
      if (!partial.empty()) {
        partial.append(line);
        line = partial;
      }
      if (!take(line)) {
        badLine(line);
        break;
      }
      partial.clear();
      writeOut(false);
    }
    if (atEnd && !failure && !partial.empty() && !take(partial)) {
      badLine(partial);
    }
  }
  convertPending();
  writeOut(true);
  if (!output.flush() && !failure) {
    failure = Failure{false, "cannot write standard output: " + std::generic_category().message(errno)};
  }
  return failure;
}

bool BatchTransformer::take(std::string_view line) {
  ++lineNumber_;
  if (trimmed(line).empty()) {
    convertPending();  // keeps the blank line in its place
    text_ += '\n';
    return true;
  }
  const auto point = parseLine(line);
  if (!point) {
    return false;
  }
  pending_.push_back(*point);
  if (pending_.size() == kBlockPoints) {
    convertPending();
  }
  return true;
}

void BatchTransformer::convertPending() {
  if (pending_.empty()) {
    return;
  }
  converted_.resize(pending_.size());
  conversion_.convert(pending_, converted_);
  for (const Coordinate& point : converted_) {
    append(point);
  }
  pending_.clear();
}

void BatchTransformer::append(Coordinate point) {
  if (json_) {
    text_ += "{\"latitude\":";
    appendNumber(text_, point.latitude, true);
    text_ += ",\"longitude\":";
    appendNumber(text_, point.longitude, true);
    text_ += "}\n";
  } else {
    appendNumber(text_, point.latitude, false);
    text_ += ',';
    appendNumber(text_, point.longitude, false);
    text_ += '\n';
  }
}

}  // namespace tovik::cli
