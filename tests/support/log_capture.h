#pragma once

#include <mutex>
#include <string>
#include <utility>

#include "tovik/system/console.h"

namespace tovik::test {

/// Collects the kit's console while it lives (the log switch is left as it is); standard
/// output again afterwards.
class LogCapture {
 public:
  LogCapture() {
    setLogHandler([this](std::string_view piece) {
      const std::lock_guard lock(mutex_);
      text_ += piece;
    });
  }
  ~LogCapture() { setLogHandler(nullptr); }

  /// Everything written so far, which is then forgotten.
  std::string take() {
    const std::lock_guard lock(mutex_);
    return std::exchange(text_, {});
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

/// What the kit writes to its console while `fn` runs.
template <typename Fn>
std::string consoleOf(Fn&& fn) {
  LogCapture capture;
  fn();
  return capture.take();
}

/// What the kit logs while `fn` runs with the log switched on.
template <typename Fn>
std::string logOf(Fn&& fn) {
  setLogEnabled(true);
  std::string printed = consoleOf(fn);
  setLogEnabled(false);
  return printed;
}

}  // namespace tovik::test
