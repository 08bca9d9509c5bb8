#include "tovik/runloop/main_queue.h"

#include <atomic>
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
}

MainQueue& MainQueue::shared() {
  static MainQueue queue;
  return queue;
}

void MainQueue::async(std::function<void()> work) {
  if (work) {
    asio::post(impl_->context, std::move(work));
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
  return impl_->enter() ? impl_->context.poll() : 0;
}

void MainQueue::stop() { impl_->context.stop(); }

bool MainQueue::isMainThread() const {
  return impl_->mainThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

asio::io_context& MainQueue::context() { return impl_->context; }

}  // namespace tovik
