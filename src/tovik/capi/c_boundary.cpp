#include "tovik/capi/c_boundary.h"

#include <atomic>
#include <cstring>
#include <string>
#include <type_traits>

#include "tovik/system/console.h"
#include "tovik/runloop/main_queue.h"

namespace tovik::capi {

void reportContainedFailure(const char* what) noexcept {
  try {
    sdkLog(std::string("[Tovik] C interface: call failed: ") + what);
  } catch (...) {
    // Nothing left to report with; the caller still gets its error status.
  }
}

namespace {

std::atomic<bool>& queueDriven() noexcept {
  // Process-wide like the queue itself; set once and never cleared.
  static std::atomic<bool> driven{false};
  return driven;
}

}  // namespace

void noteQueueDriven() noexcept { queueDriven().store(true, std::memory_order_relaxed); }

bool onMainThreadOrUndriven() noexcept {
  return !queueDriven().load(std::memory_order_relaxed) || MainQueue::shared().isMainThread();
}

}  // namespace tovik::capi

extern "C" const char* tk_status_description(tk_status status) {
  // C may pass any int here. Read as the enumeration, a value that names no status is
  // undefined behaviour in C++, so the bits are compared as the underlying integer.
  std::underlying_type_t<tk_status> code{};
  std::memcpy(&code, &status, sizeof code);
  switch (code) {
    case TK_OK:
      return "ok";
    case TK_ERROR_NULL_ARGUMENT:
      return "a required argument is NULL";
    case TK_ERROR_INVALID_ARGUMENT:
      return "an argument is out of range";
    case TK_ERROR_WRONG_THREAD:
      return "called from a thread other than the main thread";
    case TK_ERROR_INTERNAL:
      return "the kit failed unexpectedly";
    case TK_ERROR_NESTED:
      return "the main queue was driven from inside one of its callbacks";
  }
  return "unknown status";
}
