#pragma once

namespace tovik::capi {

/// Marks, for the current thread, that application code called back through the C
/// interface is running. The main queue does not nest, so the driving calls refuse to
/// run while a scope is open.
class CallbackScope {
 public:
  CallbackScope() noexcept;
  ~CallbackScope();
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;

  /// Whether the current thread is inside a callback.
  static bool active() noexcept;
};

}  // namespace tovik::capi
