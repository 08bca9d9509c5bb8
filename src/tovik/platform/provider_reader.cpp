#include "tovik/platform/provider_reader.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "tovik/platform/main_queue.h"

namespace tovik {

struct ProviderReader::State {
  // Main thread only: posts of older runs are dropped.
  unsigned run = 0;

  // Shared with the reader thread.
  std::mutex mutex;
  std::condition_variable wake;
  bool stopRequested = false;
};

ProviderReader::ProviderReader() : state_(std::make_shared<State>()) {}

ProviderReader::~ProviderReader() { stop(); }

void ProviderReader::start(std::function<void()> body) {
  stop();
  {
    const std::lock_guard lock(state_->mutex);
    state_->stopRequested = false;
  }
  threadRun_ = ++state_->run;
  thread_ = std::thread(std::move(body));
}

void ProviderReader::stop() {
  ++state_->run;
  {
    const std::lock_guard lock(state_->mutex);
    state_->stopRequested = true;
  }
  state_->wake.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool ProviderReader::stopping() const {
  const std::lock_guard lock(state_->mutex);
  return state_->stopRequested;
}

bool ProviderReader::waitFor(std::chrono::steady_clock::duration delay) const {
  std::unique_lock lock(state_->mutex);
  return !state_->wake.wait_for(lock, delay, [this] { return state_->stopRequested; });
}

bool ProviderReader::waitUntil(std::chrono::steady_clock::time_point until) const {
  std::unique_lock lock(state_->mutex);
  return !state_->wake.wait_until(lock, until, [this] { return state_->stopRequested; });
}

void ProviderReader::post(std::function<void()> work) const {
  // The run is checked on the main thread, where it changes; the weak reference covers a
  // reader (and so its owner) destroyed before the work comes up.
  MainQueue::shared().async([weak = std::weak_ptr<State>(state_), run = threadRun_, work = std::move(work)] {
    const auto state = weak.lock();
    if (state && state->run == run) {
      work();
    }
  });
}

}  // namespace tovik
