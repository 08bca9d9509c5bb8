#include "tools/tovik/output.h"

#include "tovik/client/tk_client_location.h"

namespace tovik::cli {

void Output::separateKitConsole(bool showKitConsole) {
  if (!showKitConsole) {
    TkClientLocation::setLogHandler([](std::string_view) {});
    return;
  }
  TkClientLocation::setLogHandler([](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  });
}

void Output::result(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Output::write(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

bool Output::flush() { return std::fflush(stdout) == 0 && std::ferror(stdout) == 0; }

void Output::message(std::string_view line) {
  std::fflush(stdout);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace tovik::cli
