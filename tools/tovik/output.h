#pragma once

#include <cstdio>
#include <string_view>

namespace tovik::cli {

/// Where the tool writes. Results go to standard output, messages to standard error.
/// The kit writes its log and banner to standard output too; `separateKitConsole` moves
/// those away so that standard output carries results only (one JSON document per line
/// with --json).
class Output {
 public:
  Output() = default;
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  /// From now on what the kit writes to standard output goes to standard error when
  /// `showKitConsole`, else nowhere. Results keep the real standard output.
  void separateKitConsole(bool showKitConsole);

  /// One result line (a line feed is added), written out at once.
  void result(std::string_view line);
  /// Bytes of results, buffered; `flush` writes them out.
  void write(std::string_view bytes);
  /// Writes out buffered results; false when standard output could not take them.
  bool flush();
  /// One message line on standard error.
  void message(std::string_view line);

 private:
  std::FILE* results_ = stdout;
  bool ownsResults_ = false;
};

}  // namespace tovik::cli
