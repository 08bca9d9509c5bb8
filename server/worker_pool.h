#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>

namespace tovik::server {

/// The server's workers and the waiting room in front of them.
///
/// A worker serves a connection only while a request is ready on it: a connection that is
/// silent, sends its head slowly or sits idle between kept-alive requests waits in the
/// waiting room (one epoll thread, no worker) until its request head (and a body of a
/// stated length) has arrived, or until its deadline, when it is closed. So a few slow or
/// idle clients cannot hold the workers that the others need.
///
/// The queue of ready work is bounded: past `maxQueued` a new connection is refused at
/// once, and a connection that waited in the queue past its deadline is refused when a
/// worker reaches it (its client has most likely given up). Either way the task runs with
/// `refusing()` true, so that its socket is answered 503 and closed rather than served.
class WorkerPool : public httplib::TaskQueue {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    std::size_t threads = 8;
    std::size_t maxQueued = 1024;
    /// A whole request, head and body, from its first byte (for a new connection, from
    /// its accept) to its last.
    std::chrono::milliseconds requestTimeout{10000};
    /// How many connections may wait at once; past it the one with the nearest deadline
    /// is closed, so that waiting connections cannot use up the descriptors.
    std::size_t maxWaiting = 4096;
  };

  struct Observer {
    /// How long a connection waited in the queue before a worker took it.
    std::function<void(std::chrono::microseconds)> waited;
    /// A connection closed without an answer: "queue_full", "stale" (past its deadline in
    /// the queue), "timeout" (its request did not arrive in time) or "evicted" (too many
    /// waiting).
    std::function<void(std::string_view)> dropped;
  };

  /// Serves a socket whose request is ready, until the connection closes or goes quiet
  /// (then it hands the socket back with `wait`). `idle`: kept alive after an answer, so
  /// its deadline is the keep-alive time until the next request begins.
  /// `received`: the bytes of the request already read from the socket.
  using Serve = std::function<void(int socket, Clock::time_point deadline, bool idle, std::string received)>;

  WorkerPool(Limits limits, Observer observer, Serve serve);
  ~WorkerPool() override;

  /// A connection the server has just accepted (the task serves and closes it).
  void enqueue(std::function<void()> task) override;
  /// Serves what is queued, closes the waiting connections, then stops the threads.
  void shutdown() override;

  /// Keeps `socket` until its request is ready (then a worker serves it) or `deadline`
  /// (then it is closed). False when the pool is stopping: the caller closes it.
  bool wait(int socket, Clock::time_point deadline, bool idle, std::string received);

  /// True while a worker runs a task that must be refused, not served.
  static bool refusing();

  /// Whether the bytes received so far are a request to serve now: its whole head and a
  /// body of the length it states, or a head past the caps (which a worker answers 431).
  enum class Arrival { nothing, partial, ready };
  static Arrival examine(std::string_view received);

  /// Answers 503 and closes (the answer is not waited for).
  static void refuse(int socket);

  /// The caps of a request head (request line and header lines): 431 past them.
  static constexpr std::size_t kMaxHead = 16 * 1024;
  static constexpr std::size_t kMaxHeadLines = 100;
  static constexpr std::size_t kMaxBody = 64 * 1024;

 private:
  struct Task {
    std::function<void(bool refused)> run;
    Clock::time_point queued;
    Clock::time_point deadline;
  };
  struct Waiting {
    Clock::time_point deadline;
    bool idle = false;
    std::string received;
  };

  bool push(Task task);
  void work();
  void watch();
  void drop(int socket, std::string_view reason);
  /// Takes `socket` out of the waiting room (the lock held).
  void forget(int socket);

  Limits limits_;
  Observer observer_;
  Serve serve_;

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;

  int epoll_ = -1;
  int wake_ = -1;  // an eventfd that ends the watcher
  std::mutex waitingMutex_;
  std::map<int, Waiting> waiting_;
  std::set<std::pair<Clock::time_point, int>> byDeadline_;
  bool closing_ = false;
  std::thread watcher_;
};

}  // namespace tovik::server
