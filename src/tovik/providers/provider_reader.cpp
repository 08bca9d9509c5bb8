#include "tovik/providers/provider_reader.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "tovik/runloop/main_queue.h"

namespace tovik {

struct ProviderReader::Run::State {
  State() : wakeDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~State() {
    if (wakeDescriptor >= 0) {
      ::close(wakeDescriptor);
    }
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  void requestStop() {
    {
      const std::lock_guard lock(mutex);
      stopRequested = true;
    }
    wake.notify_all();
    if (wakeDescriptor >= 0) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const auto written = ::write(wakeDescriptor, &one, sizeof one);
    }
  }

  mutable std::mutex mutex;
  std::condition_variable wake;
  bool stopRequested = false;
  // Readable once a stop is requested; -1 if the system had none to give (waits on
  // descriptors then fall back to their own time-outs).
  const int wakeDescriptor;
};

std::string ProviderReader::endpointText(const std::string& host, std::uint16_t port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ProviderReader::Run::stopping() const {
  const std::lock_guard lock(state_->mutex);
  return state_->stopRequested;
}

bool ProviderReader::Run::waitFor(std::chrono::steady_clock::duration delay) const {
  return waitUntil(std::chrono::steady_clock::now() + delay);
}

bool ProviderReader::Run::waitUntil(std::chrono::steady_clock::time_point until) const {
  std::unique_lock lock(state_->mutex);
  return !state_->wake.wait_until(lock, until, [this] { return state_->stopRequested; });
}

int ProviderReader::Run::stopDescriptor() const { return state_->wakeDescriptor; }

void ProviderReader::Run::post(std::function<void()> work) const {
  // Posting under the lock: once `stop` has returned, this run posts nothing more, so a
  // thread that outlives its provider never reaches the queue again.
  const std::lock_guard lock(state_->mutex);
  if (state_->stopRequested) {
    return;
  }
  MainQueue::shared().async([state = state_, work = std::move(work)] {
    {
      const std::lock_guard lock(state->mutex);
      if (state->stopRequested) {
        return;
      }
    }
    work();
  });
}

ProviderReader::~ProviderReader() { stop(); }

bool ProviderReader::start(std::function<void(const Run&)> body) {
  stop();
  auto state = std::make_shared<Run::State>();
  try {
    // Detached: a stop never waits for the thread, which owns its run's state.
    std::thread([run = Run(state), body = std::move(body)] { body(run); }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  current_ = std::move(state);
  return true;
}

void ProviderReader::stop() {
  if (const auto state = std::exchange(current_, nullptr)) {
    state->requestStop();
  }
}

}  // namespace tovik
