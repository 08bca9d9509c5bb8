#include "tovik/system/console.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace tovik {
namespace {

std::atomic<bool>& logSwitch() {
  static std::atomic<bool> enabled{false};
  return enabled;
}

// One lock around the handler and every write, so lines from the main thread and from
// readers never interleave and a handler being replaced is never called half-way.
struct Console {
  std::mutex mutex;
  LogHandler handler;
};

Console& console() {
  static Console instance;
  return instance;
}

void writeOut(const std::string& text) {
  auto& out = console();
  const std::lock_guard lock(out.mutex);
  if (out.handler) {
    // A handler that throws loses its line; it must not break the delivery that logged it.
    try {
      out.handler(text);
    } catch (...) {
    }
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

void setLogHandler(LogHandler handler) {
  auto& out = console();
  LogHandler old;
  {
    const std::lock_guard lock(out.mutex);
    old = std::exchange(out.handler, std::move(handler));
  }
  // Whatever the old handler holds is released outside the lock.
}

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
