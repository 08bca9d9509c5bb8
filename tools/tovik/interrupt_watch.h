#pragma once

#include <memory>

namespace tovik::cli {

/// Turns Ctrl-C (SIGINT) and SIGTERM into a flag that the main queue's loop looks at, so
/// that a command ends cleanly. A second signal ends the process at once (status 130).
/// Create on the main thread; the signals are watched on the main queue.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool interrupted() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik::cli
