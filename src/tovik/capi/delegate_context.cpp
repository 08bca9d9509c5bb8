#include "tovik/capi/delegate_context.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "tovik/capi/c_boundary.h"
#include "tovik/capi/callback_scope.h"
#include "tovik/runloop/main_queue.h"

namespace tovik::capi {
namespace {

void runRelease(DelegateContextShare::Release release, void* context) {
  if (release != nullptr) {
    const CallbackScope scope;
    release(context);
  }
}

/// Runs `release(context)` now when on the main thread, else in a later turn of the main
/// queue.
template <class Release>
void onMainThread(Release&& release) {
  if (MainQueue::shared().isMainThread()) {
    release();
  } else {
    MainQueue::shared().async(std::forward<Release>(release));
  }
}

}  // namespace

/// How many copies the kit holds of each non-NULL context, and the release to run once it
/// holds none. The entry stays until the release runs, so a copy arriving while a release
/// is posted from another thread keeps the context and the posted release does nothing.
class ContextRegistry : public std::enable_shared_from_this<ContextRegistry> {
 public:
  /// The process's registry. Each share keeps it alive, so a share destroyed late in the
  /// process's exit still finds it.
  static std::shared_ptr<ContextRegistry> shared() {
    static const std::shared_ptr<ContextRegistry> registry = std::make_shared<ContextRegistry>();
    return registry;
  }

  void acquire(void* context, DelegateContextShare::Release release) {
    const std::lock_guard lock(mutex_);
    Entry& entry = entries_[context];
    ++entry.holders;
    // The first copy that brings a release decides it.
    if (entry.release == nullptr) {
      entry.release = release;
    }
  }

  void relinquish(void* context) {
    {
      const std::lock_guard lock(mutex_);
      const auto found = entries_.find(context);
      if (found == entries_.end() || --found->second.holders > 0) {
        return;
      }
    }
    onMainThread([self = shared_from_this(), context] { self->releaseIfUnheld(context); });
  }

 private:
  struct Entry {
    DelegateContextShare::Release release = nullptr;
    std::size_t holders = 0;
  };

  void releaseIfUnheld(void* context) {
    DelegateContextShare::Release release = nullptr;
    {
      const std::lock_guard lock(mutex_);
      const auto found = entries_.find(context);
      if (found == entries_.end() || found->second.holders > 0) {
        return;
      }
      release = found->second.release;
      entries_.erase(found);
    }
    // Outside the lock: the application's release may give the kit new tables.
    runRelease(release, context);
  }

  std::mutex mutex_;
  std::unordered_map<void*, Entry> entries_;
};

DelegateContextShare::DelegateContextShare(void* context, Release release)
    : registry_(ContextRegistry::shared()), context_(context), ownRelease_(context == nullptr ? release : nullptr) {
  if (context_ != nullptr) {
    registry_->acquire(context_, release);
  }
}

DelegateContextShare::~DelegateContextShare() {
  guardedVoid([&] {
    if (context_ != nullptr) {
      registry_->relinquish(context_);
    } else if (ownRelease_ != nullptr) {
      onMainThread([release = ownRelease_] { runRelease(release, nullptr); });
    }
  });
}

}  // namespace tovik::capi
