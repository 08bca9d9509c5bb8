#pragma once

#include <cstdio>
#include <string_view>

namespace tovik::cli {

/// Where the tool writes. Results go to standard output, messages to standard error.
/// The kit writes its log and banner to standard output unless told otherwise;
/// `separateKitConsole` sends them elsewhere so that standard output carries results only
/// (one JSON document per line with --json).
class Output {
 public:
  /// From now on the kit's console goes to standard error when `showKitConsole`, else
  /// nowhere.
  void separateKitConsole(bool showKitConsole);

  /// One result line (a line feed is added), written out at once.
  void result(std::string_view line);
  /// Bytes of results, buffered; `flush` writes them out.
  void write(std::string_view bytes);
  /// Writes out buffered results; false when standard output could not take them.
  bool flush();
  /// One message line on standard error.
  void message(std::string_view line);
};

}  // namespace tovik::cli
