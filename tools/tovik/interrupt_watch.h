#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace tovik::cli {

/// Turns Ctrl-C (SIGINT) and SIGTERM into a flag, so that a command ends cleanly. The
/// signals are watched on the main queue: the flag is set by a handler there, which wakes
/// a queue that is waiting for work. A second signal ends the process at once (status 130).
/// Create on the main thread.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool interrupted() const;

  enum class Ending { done, interrupted, timedOut };
  /// Drives the main queue until `done` holds, a signal, or `timeout` (none: no limit).
  Ending runUntil(const std::function<bool()>& done, std::optional<std::chrono::seconds> timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik::cli
