#pragma once

#include <exception>
#include <utility>

#include "tovik/tovik_c.h"

namespace tovik::capi {

/// Logs a failure that was stopped at the C boundary. Never throws.
void reportContainedFailure(const char* what) noexcept;

/// Records that the calling thread drives the main queue through this interface.
void noteQueueDriven() noexcept;

/// Whether the calling thread may use the entries that belong to the main thread: any
/// thread until one has driven the main queue (a host sets up before its loop starts), then
/// only that one.
bool onMainThreadOrUndriven() noexcept;

/// Runs `body` and returns its result; an exception is logged and turned into `fallback`,
/// so that nothing thrown inside the kit unwinds into C frames.
template <class Result, class Body>
Result guarded(Result fallback, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::exception& error) {
    reportContainedFailure(error.what());
  } catch (...) {
    reportContainedFailure("unknown exception");
  }
  return fallback;
}

/// `guarded` for bodies without a result.
template <class Body>
void guardedVoid(Body&& body) noexcept {
  (void)guarded(0, [&] {
    std::forward<Body>(body)();
    return 0;
  });
}

/// `guarded` for operations that report a `tk_status`: the body's own status, or
/// `TK_ERROR_INTERNAL` when it threw.
template <class Body>
tk_status guardedStatus(Body&& body) noexcept {
  return guarded(TK_ERROR_INTERNAL, std::forward<Body>(body));
}

/// The guards of an operation on a handle of the main thread: a NULL `handle` is
/// `TK_ERROR_NULL_ARGUMENT`, another thread `TK_ERROR_WRONG_THREAD`; otherwise `body()`'s status,
/// `TK_ERROR_INTERNAL` when it threw.
template <class Body>
tk_status onMainThreadHandle(const void* handle, Body&& body) noexcept {
  if (handle == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus(std::forward<Body>(body));
}

}  // namespace tovik::capi
