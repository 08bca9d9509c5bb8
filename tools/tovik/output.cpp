#include "tools/tovik/output.h"

#include <fcntl.h>
#include <unistd.h>

namespace tovik::cli {

Output::~Output() {
  if (ownsResults_) {
    std::fclose(results_);
  }
}

void Output::separateKitConsole(bool showKitConsole) {
  if (ownsResults_) {
    return;
  }
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  std::FILE* results = saved >= 0 ? ::fdopen(saved, "w") : nullptr;
  if (results == nullptr) {
    if (saved >= 0) ::close(saved);
    return;  // keep everything on standard output rather than lose results
  }
  const int target = showKitConsole ? STDERR_FILENO : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (target >= 0) {
    ::dup2(target, STDOUT_FILENO);
    if (target != STDERR_FILENO) ::close(target);
  }
  results_ = results;
  ownsResults_ = true;
}

void Output::result(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), results_);
  std::fputc('\n', results_);
  std::fflush(results_);
}

void Output::write(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), results_); }

bool Output::flush() { return std::fflush(results_) == 0 && std::ferror(results_) == 0; }

void Output::message(std::string_view line) {
  std::fflush(results_);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace tovik::cli
