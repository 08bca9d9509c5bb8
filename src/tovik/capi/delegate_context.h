#pragma once

#include <memory>

namespace tovik::capi {

class ContextRegistry;

/// The kit's share in the context pointer of one C delegate table. Every copy of a table
/// that the kit keeps holds one. Copies with the same context share a single count, however
/// they reached the kit (given twice, read back and given again, given to two facades), so
/// the context's `releaseContext` runs once, after the last copy is gone, and always on the
/// main thread: a share dropped on another thread posts the release to the main queue.
///
/// A NULL context names no object and is not shared: each copy with a NULL context has its
/// own `releaseContext` called once, when that copy is let go.
class DelegateContextShare {
 public:
  using Release = void (*)(void*);

  DelegateContextShare(void* context, Release release);
  ~DelegateContextShare();
  DelegateContextShare(const DelegateContextShare&) = delete;
  DelegateContextShare& operator=(const DelegateContextShare&) = delete;

 private:
  const std::shared_ptr<ContextRegistry> registry_;
  void* const context_;
  // Only for a NULL context; a shared context keeps its release in the registry.
  const Release ownRelease_;
};

}  // namespace tovik::capi
