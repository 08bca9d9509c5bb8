#pragma once

#include <memory>

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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik::cli
