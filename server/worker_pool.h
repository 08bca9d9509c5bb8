#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

namespace tovik::server {

/// The server's workers: a fixed number of threads that take accepted connections in
/// order and serve each until it closes (a kept-alive connection holds its worker), so
/// the pool must be at least as large as the number of connections open at once. Reports
/// how long each connection waited for a worker, which is the one delay a client's own
/// measurement of answered requests cannot see.
class WorkerPool : public httplib::TaskQueue {
 public:
  using WaitObserver = std::function<void(std::chrono::microseconds)>;

  WorkerPool(std::size_t threads, WaitObserver observer);
  ~WorkerPool() override;

  void enqueue(std::function<void()> task) override;
  /// Serves what is queued, then stops the threads and waits for them.
  void shutdown() override;

 private:
  struct Task {
    std::function<void()> run;
    std::chrono::steady_clock::time_point queued;
  };

  void work();

  WaitObserver observer_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tovik::server
