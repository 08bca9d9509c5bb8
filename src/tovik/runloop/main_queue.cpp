#include "tovik/runloop/main_queue.h"

#include <atomic>
#include <optional>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

namespace tovik {

struct MainQueue::Impl {
  asio::io_context context{1};
  // Keeps the context from running out of work: an idle queue waits instead of returning.
  asio::executor_work_guard<asio::io_context::executor_type> guard{context.get_executor()};
  std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};

  // Every driving call makes its thread the main thread and revives a stopped context.
  void enter() {
    mainThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
    if (context.stopped()) {
      context.restart();
    }
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
  impl_->enter();
  impl_->context.run();
}

std::size_t MainQueue::runFor(std::chrono::steady_clock::duration duration) {
  impl_->enter();
  return impl_->context.run_for(duration);
}

bool MainQueue::runUntil(const std::function<bool()>& predicate,
                         std::chrono::steady_clock::duration timeout) {
  impl_->enter();
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
  impl_->enter();
  return impl_->context.poll();
}

void MainQueue::stop() { impl_->context.stop(); }

bool MainQueue::isMainThread() const {
  return impl_->mainThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

asio::io_context& MainQueue::context() { return impl_->context; }

}  // namespace tovik
