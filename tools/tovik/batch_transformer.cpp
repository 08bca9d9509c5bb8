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

BatchTransformer::BatchTransformer(DatumConversion conversion, bool json, PointLines lines)
    : conversion_(conversion), json_(json), lines_(lines) {
  pending_.reserve(kBlockPoints);
  around_.reserve(kBlockPoints);
  converted_.reserve(kBlockPoints);
}

std::optional<BatchTransformer::Failure> BatchTransformer::run(int input, Output& output) {
  std::vector<char> buffer(kReadChunk);
  std::string partial;  // the start of a line that goes on in the next chunk
  std::optional<Failure> failure;

  const auto badLine = [&](std::string_view line) {
    std::string shown(trimmed(line).substr(0, kShownLineLength));
    failure = Failure{true, "line " + std::to_string(lineNumber_) + ": expected " + lines_.expected() + ", got '" +
                                 shown + "'"};
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
      if (!take(line, output)) {
        badLine(line);
        break;
      }
      partial.clear();
      writeOut(false);
    }
    if (atEnd && !failure && !partial.empty() && !take(partial, output)) {
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

bool BatchTransformer::take(std::string_view line, Output& output) {
  ++lineNumber_;
  if (lines_.header && lineNumber_ == 1) {
    if (!json_) {
      text_.append(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
      text_ += '\n';
    }
    return true;
  }
  if (trimmed(line).empty()) {
    convertPending();  // keeps the blank line in its place
    text_ += '\n';
    return true;
  }
  const auto parsed = lines_.parse(line);
  if (!parsed) {
    return false;
  }
  if (!warned_ && std::fabs(parsed->point.latitude) > 90.0) {
    warned_ = true;
    output.message("tovik transform: line " + std::to_string(lineNumber_) + ": latitude " +
                   shortestText(parsed->point.latitude) +
                   " is outside [-90, 90]; if the lines hold the longitude first, use --order lonlat");
  }
  pending_.push_back(parsed->point);
  around_.push_back({kept_.size(), parsed->before.size(), parsed->between.size(), parsed->after.size()});
  kept_.append(parsed->before).append(parsed->between).append(parsed->after);
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
  for (std::size_t i = 0; i < converted_.size(); ++i) {
    append(converted_[i], i);
  }
  pending_.clear();
  around_.clear();
  kept_.clear();
}

void BatchTransformer::append(Coordinate point, std::size_t index) {
  if (json_) {
    text_ += "{\"latitude\":";
    appendNumber(text_, point.latitude, true);
    text_ += ",\"longitude\":";
    appendNumber(text_, point.longitude, true);
    text_ += "}\n";
    return;
  }
  const Around& around = around_[index];
  const std::string_view kept(kept_);
  const bool latitudeFirst = lines_.lonLat == (lines_.firstField > lines_.secondField);
  text_.append(kept.substr(around.start, around.before));
  appendNumber(text_, latitudeFirst ? point.latitude : point.longitude, false);
  text_.append(kept.substr(around.start + around.before, around.between));
  appendNumber(text_, latitudeFirst ? point.longitude : point.latitude, false);
  text_.append(kept.substr(around.start + around.before + around.between, around.after));
  text_ += '\n';
}

}  // namespace tovik::cli
