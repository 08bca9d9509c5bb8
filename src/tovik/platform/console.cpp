#include "tovik/platform/console.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace tovik {
namespace {

std::atomic<bool>& logSwitch() {
  static std::atomic<bool> enabled{false};
  return enabled;
}

// One write per line, so lines from the main thread and from readers never interleave.
void writeOut(const std::string& text) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

bool logEnabled() { return logSwitch().load(std::memory_order_relaxed); }

void setLogEnabled(bool enabled) { logSwitch().store(enabled, std::memory_order_relaxed); }

void sdkLog(std::initializer_list<std::string_view> items, std::string_view separator,
            std::string_view terminator) {
  if (!logEnabled()) {
    return;
  }
  std::string text;
  bool first = true;
  for (const auto item : items) {
    if (!first) {
      text += separator;
    }
    text += item;
    first = false;
  }
  text += terminator;
  writeOut(text);
}

void consoleLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  writeOut(text);
}

}  // namespace tovik
