#include "server/worker_pool.h"

namespace tovik::server {

WorkerPool::WorkerPool(std::size_t threads, WaitObserver observer) : observer_(std::move(observer)) {
  threads_.reserve(threads);
  for (std::size_t k = 0; k < threads; ++k) {
    threads_.emplace_back([this] { work(); });
  }
}

WorkerPool::~WorkerPool() { shutdown(); }

void WorkerPool::enqueue(std::function<void()> task) {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(Task{std::move(task), std::chrono::steady_clock::now()});
  }
  ready_.notify_one();
}

void WorkerPool::shutdown() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (auto& thread : threads_) {
    if (thread.joinable()) {
      thread.join();
    }
  }
}

void WorkerPool::work() {
  while (true) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) {
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    if (observer_) {
      observer_(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - task.queued));
    }
    try {
      task.run();
    } catch (...) {
      // A connection that fails must not take its worker with it; the server has already
      // answered or dropped it.
    }
  }
}

}  // namespace tovik::server
