#include "tovik/runloop/main_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "tovik/system/console.h"

namespace tovik {

struct MainQueue::Impl {
  asio::io_context context{1};
  // Keeps the context from running out of work: an idle queue waits instead of returning.
  asio::executor_work_guard<asio::io_context::executor_type> guard{context.get_executor()};
  std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
  // Readable while work posted through `async` (or a cancelled timer) waits for a host's
  // `poll`; `signaled` spares a write for every post but the first.
  const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  std::atomic<bool> signaled{false};
  // When each armed timer of the kit falls due, for `nextTimeout`.
  std::mutex deadlinesMutex;
  std::map<const void*, std::chrono::steady_clock::time_point> deadlines;

  void wake() {
    if (!signaled.exchange(true) && wakeFd >= 0) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }
  }

  // Before running what is ready: anything posted from now on signals again.
  void clearWake() {
    if (signaled.exchange(false) && wakeFd >= 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
    }
  }

  // Set by the first driving call: from then on only its thread may drive the queue, so that
  // handlers never run on two threads at once.
  std::atomic<bool> established{false};

  // The first driving call makes its thread the main thread for good; a later one from
  // another thread is refused. Revives a stopped context.
  bool enter() {
    const auto self = std::this_thread::get_id();
    bool expected = false;
    if (established.compare_exchange_strong(expected, true)) {
      mainThread.store(self, std::memory_order_relaxed);
    } else if (mainThread.load(std::memory_order_relaxed) != self) {
      sdkLog("[Tovik] 主队列只能由主线程驱动，此调用被忽略");
      return false;
    }
    if (context.stopped()) {
      context.restart();
    }
    return true;
  }
};

MainQueue::MainQueue() : impl_(std::make_unique<Impl>()) {}

MainQueue::~MainQueue() {
  impl_->guard.reset();
  impl_->context.stop();
  if (impl_->wakeFd >= 0) {
    ::close(impl_->wakeFd);
  }
}

MainQueue& MainQueue::shared() {
  static MainQueue queue;
  return queue;
}

void MainQueue::async(std::function<void()> work) {
  if (work) {
    asio::post(impl_->context, std::move(work));
    impl_->wake();
  }
}

int MainQueue::fd() const { return impl_->wakeFd; }

std::optional<std::chrono::steady_clock::duration> MainQueue::nextTimeout() const {
  if (impl_->signaled.load()) {
    return std::chrono::steady_clock::duration::zero();
  }
  const std::lock_guard lock(impl_->deadlinesMutex);
  if (impl_->deadlines.empty()) {
    return std::nullopt;
  }
  const auto earliest = std::min_element(impl_->deadlines.begin(), impl_->deadlines.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; });
  return std::max(earliest->second - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
}

void MainQueue::setDeadline(const void* timer, std::optional<std::chrono::steady_clock::time_point> at) {
  const std::lock_guard lock(impl_->deadlinesMutex);
  if (at) {
    impl_->deadlines[timer] = *at;
  } else {
    impl_->deadlines.erase(timer);
  }
}

void MainQueue::run() {
  if (impl_->enter()) {
    impl_->context.run();
  }
}

std::size_t MainQueue::runFor(std::chrono::steady_clock::duration duration) {
  return impl_->enter() ? impl_->context.run_for(duration) : 0;
}

bool MainQueue::runUntil(const std::function<bool()>& predicate,
                         std::chrono::steady_clock::duration timeout) {
  if (!impl_->enter()) {
    return false;
  }
  // Sleeps until a handler runs or the deadline passes (Asio wakes at most once a second
  // on a distant deadline). The predicate is looked at after each handler only: another
  // thread that changes it posts.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline || impl_->context.stopped()) {
      return false;
    }
    impl_->context.run_one_until(deadline);
  }
  return true;
}

std::size_t MainQueue::poll() {
  if (!impl_->enter()) {
    return 0;
  }
  impl_->clearWake();
  return impl_->context.poll();
}

void MainQueue::stop() { impl_->context.stop(); }

bool MainQueue::isMainThread() const {
  return impl_->mainThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

asio::io_context& MainQueue::context() { return impl_->context; }

}  // namespace tovik
