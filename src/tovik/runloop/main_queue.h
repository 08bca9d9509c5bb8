#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "tovik/system/export.h"

namespace asio {
class io_context;
}

namespace tovik {

/// The process's main queue. Location callbacks, the kit's timers and every service
/// answer run on it. The first thread that drives it (`run`, `runFor`, `runUntil`, `poll`)
/// is the main thread for good; before anything drives it, the thread that first asked for
/// it. A driving call from any other thread returns at once without running anything (0,
/// or false) and logs why, so handlers never run on two threads at once.
/// `async` may be called from any thread; everything else from the main thread, and not
/// from inside one of the queue's own handlers (the queue does not nest).
class TOVIK_API MainQueue {
 public:
  /// The process's one queue, created on first use.
  static MainQueue& shared();

  /// Posts `work` to run later, on the main thread, in posting order.
  void async(std::function<void()> work);

  /// Runs until `stop()`.
  void run();
  /// Runs ready and arriving work for `duration`; returns the number of handlers run.
  std::size_t runFor(std::chrono::steady_clock::duration duration);
  /// Runs until `predicate` holds or `timeout` passes, sleeping while there is no work.
  /// The predicate is checked on entry and after every handler, so a predicate that
  /// another thread changes must be changed by work that thread posts.
  /// Returns whether the predicate held.
  bool runUntil(const std::function<bool()>& predicate, std::chrono::steady_clock::duration timeout);
  /// Runs the work that is ready now without blocking (for hosts with their own loop).
  std::size_t poll();

  /// For a host with its own loop: a descriptor, the same for the life of the process, that
  /// is readable (level-triggered) while work is ready to run. Wait for it with the
  /// `nextTimeout()` of the moment, and call `poll()` when either wakes you. Any thread.
  int fd() const;
  /// How long a host may sleep before the kit's next timer falls due: zero when work is
  /// ready, none when nothing is pending at all. Any thread.
  std::optional<std::chrono::steady_clock::duration> nextTimeout() const;
  /// For the kit's timers: when the timer `timer` falls due, or none once it is disarmed.
  void setDeadline(const void* timer, std::optional<std::chrono::steady_clock::time_point> at);
  /// Makes a running `run()` return.
  void stop();

  /// Whether the calling thread is the one that drives the queue. Any thread.
  bool isMainThread() const;
  /// The Asio context underneath, for the kit's timers and readers.
  asio::io_context& context();

  ~MainQueue();
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

 private:
  MainQueue();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik
