#include "tools/tovik/point_lines.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <vector>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "tools/tovik/number_arguments.h"
#include "tools/tovik/usage_error.h"

namespace tovik::cli {
namespace {

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::size_t fieldNumber(std::string_view text) {
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value == 0 || value > 1000) {
    throw UsageError("--columns: expected two field numbers I,J (from 1), got '" + std::string(text) + "'");
  }
  return value - 1;
}

}  // namespace

PointLines PointLines::fromOptions(std::string_view order, bool header, std::string_view columns,
                                   std::string_view delimiter) {
  PointLines lines;
  if (order != "latlon" && order != "lonlat") {
    throw UsageError("--order: expected latlon or lonlat, got '" + std::string(order) + "'");
  }
  lines.lonLat = order == "lonlat";
  lines.header = header;
  if (!columns.empty()) {
    const auto comma = columns.find(',');
    if (comma == std::string_view::npos) {
      throw UsageError("--columns: expected two field numbers I,J (from 1), got '" + std::string(columns) + "'");
    }
    lines.firstField = fieldNumber(columns.substr(0, comma));
    lines.secondField = fieldNumber(columns.substr(comma + 1));
    if (lines.firstField == lines.secondField) {
      throw UsageError("--columns: the two fields must differ, got '" + std::string(columns) + "'");
    }
  }
  if (delimiter == "tab") {
    lines.delimiter = '\t';
  } else if (delimiter.size() == 1 && delimiter != "\n" && delimiter != "." && delimiter != "-" && delimiter != "+") {
    lines.delimiter = delimiter.front();
  } else {
    throw UsageError("--delimiter: expected one character other than a digit, '.', '+' or '-', or 'tab', got '" +
                     std::string(delimiter) + "'");
  }
  if (lines.delimiter >= '0' && lines.delimiter <= '9') {
    throw UsageError("--delimiter: expected one character other than a digit, '.', '+' or '-', or 'tab', got '" +
                     std::string(delimiter) + "'");
  }
  return lines;
}

std::optional<PointLines::Parsed> PointLines::parse(std::string_view line) const {
  const std::size_t low = std::min(firstField, secondField);
  const std::size_t high = std::max(firstField, secondField);
  // Field boundaries of the two fields, found by walking the delimiters.
  std::size_t field = 0;
  std::size_t start = 0;
  std::string_view lowText;
  std::string_view highText;
  std::size_t lowStart = 0;
  std::size_t lowEnd = 0;
  std::size_t highStart = 0;
  std::size_t highEnd = 0;
  while (true) {
    const std::size_t end = std::min(line.find(delimiter, start), line.size());
    if (field == low) {
      lowStart = start;
      lowEnd = end;
      lowText = line.substr(start, end - start);
    } else if (field == high) {
      highStart = start;
      highEnd = end;
      highText = line.substr(start, end - start);
      break;
    }
    if (end == line.size()) {
      return std::nullopt;  // too few fields
    }
    start = end + 1;
    ++field;
  }
  const auto lowNumber = readNumber(trimmed(lowText));
  const auto highNumber = readNumber(trimmed(highText));
  if (!lowNumber || !highNumber) {
    return std::nullopt;
  }
  const double first = firstField < secondField ? *lowNumber : *highNumber;
  const double second = firstField < secondField ? *highNumber : *lowNumber;
  Parsed parsed{.point = lonLat ? Coordinate{second, first} : Coordinate{first, second},
                .before = line.substr(0, lowStart),
                .between = line.substr(lowEnd, highStart - lowEnd),
                .after = line.substr(highEnd)};
  // A CR of a CR-LF line end goes with the line end, not with the text copied through.
  if (!parsed.after.empty() && parsed.after.back() == '\r') {
    parsed.after.remove_suffix(1);
  }
  return parsed;
}

std::string PointLines::expected() const {
  if (firstField == 0 && secondField == 1) {
    const std::string separator = delimiter == '\t' ? "<tab>" : std::string(1, delimiter);
    return lonLat ? "LON" + separator + "LAT" : "LAT" + separator + "LON";
  }
  return std::string(lonLat ? "LON and LAT" : "LAT and LON") + " in fields " + std::to_string(firstField + 1) +
         " and " + std::to_string(secondField + 1);
}

std::optional<std::string> readStandardInput() {
  std::string input;
  std::vector<char> buffer(std::size_t{1} << 20);
  while (true) {
    const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return input;
    input.append(buffer.data(), static_cast<std::size_t>(got));
  }
}

void addLineOptions(CLI::App& command, LineOptions& options) {
  command.add_option("--order", options.order, "Order of the two numbers on a line: latlon (default) or lonlat");
  command.add_flag("--header", options.header, "The first line is a header (copied through)");
  command.add_option("--columns", options.columns,
                     "I,J: the 1-based fields holding the two numbers (default 1,2; other fields are copied through)");
  command.add_option("--delimiter", options.delimiter, "The field delimiter: one character (default ,) or tab");
}

}  // namespace tovik::cli
