#include "server/worker_pool.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tovik::server {

namespace {

thread_local bool tlRefusing = false;

/// Sets the thread's refusing flag for one task.
class RefusingScope {
 public:
  explicit RefusingScope(bool refusing) { tlRefusing = refusing; }
  ~RefusingScope() { tlRefusing = false; }
  RefusingScope(const RefusingScope&) = delete;
  RefusingScope& operator=(const RefusingScope&) = delete;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

bool hasHeader(std::string_view head, std::string_view name) {
  for (std::size_t at = head.find('\n'); at != std::string_view::npos; at = head.find('\n', at + 1)) {
    const auto line = head.substr(at + 1, name.size() + 1);
    if (line.size() == name.size() + 1 && line.back() == ':' && equalsIgnoringCase(line.substr(0, name.size()), name)) {
      return true;
    }
  }
  return false;
}

/// The single Content-Length of a head, or nothing (absent, repeated or malformed: the
/// server itself answers those as soon as the head is read).
std::optional<std::size_t> contentLength(std::string_view head) {
  std::optional<std::size_t> length;
  while (!head.empty()) {
    const auto end = head.find('\n');
    std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !equalsIgnoringCase(line.substr(0, colon), "content-length")) {
      continue;
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.remove_suffix(1);
    std::size_t number = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (length || value.empty() || ec != std::errc() || ptr != value.data() + value.size()) {
      return std::nullopt;
    }
    length = number;
  }
  return length;
}

}  // namespace

WorkerPool::WorkerPool(Limits limits, Observer observer, Serve serve)
    : limits_(limits), observer_(std::move(observer)), serve_(std::move(serve)) {
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epoll_ < 0 || wake_ < 0) {
    throw std::runtime_error(std::string("cannot set up the connection watcher: ") + std::strerror(errno));
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = wake_;
  ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
  watcher_ = std::thread([this] { watch(); });
  threads_.reserve(limits_.threads);
  for (std::size_t k = 0; k < limits_.threads; ++k) {
    threads_.emplace_back([this] { work(); });
  }
}

WorkerPool::~WorkerPool() {
  shutdown();
  ::close(epoll_);
  ::close(wake_);
}

bool WorkerPool::refusing() { return tlRefusing; }

void WorkerPool::enqueue(std::function<void()> task) {
  const auto now = Clock::now();
  auto run = [task = std::move(task)](bool refused) {
    const RefusingScope scope(refused);
    task();
  };
  if (!push(Task{run, now, now + limits_.requestTimeout})) {
    if (observer_.dropped) {
      observer_.dropped("queue_full");
    }
    run(true);
  }
}

bool WorkerPool::push(Task task) {
  {
    const std::lock_guard lock(mutex_);
    if (tasks_.size() >= limits_.maxQueued) {
      return false;
    }
    tasks_.push_back(std::move(task));
  }
  ready_.notify_one();
  return true;
}

void WorkerPool::shutdown() {
  {
    const std::lock_guard lock(waitingMutex_);
    if (!closing_) {
      closing_ = true;
      // Waiting connections have no request under way: close them now rather than let
      // a stop wait for their deadlines.
      for (const auto& [socket, waiting] : waiting_) {
        ::close(socket);
      }
      waiting_.clear();
      byDeadline_.clear();
      const std::uint64_t one = 1;
      [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
    }
  }
  if (watcher_.joinable()) {
    watcher_.join();
  }
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
    const auto now = Clock::now();
    if (observer_.waited) {
      observer_.waited(std::chrono::duration_cast<std::chrono::microseconds>(now - task.queued));
    }
    // A connection that waited past its deadline is refused: its client has most likely
    // given up, and serving it would only make those behind it wait longer.
    const bool stale = now > task.deadline;
    if (stale && observer_.dropped) {
      observer_.dropped("stale");
    }
    try {
      task.run(stale);
    } catch (...) {
      // A connection that fails must not take its worker with it; the server has already
      // answered or dropped it.
    }
  }
}

bool WorkerPool::wait(int socket, Clock::time_point deadline, bool idle, std::string received) {
  const std::lock_guard lock(waitingMutex_);
  if (closing_) {
    return false;
  }
  if (waiting_.size() >= limits_.maxWaiting && !byDeadline_.empty()) {
    const int evicted = byDeadline_.begin()->second;
    forget(evicted);
    drop(evicted, "evicted");
  }
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  event.data.fd = socket;
  if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, socket, &event) != 0) {
    return false;
  }
  waiting_[socket] = Waiting{deadline, idle, std::move(received)};
  byDeadline_.emplace(deadline, socket);
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);  // the nearest deadline may have moved
  return true;
}

void WorkerPool::forget(int socket) {
  const auto it = waiting_.find(socket);
  if (it == waiting_.end()) {
    return;
  }
  byDeadline_.erase({it->second.deadline, socket});
  waiting_.erase(it);
  ::epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
}

void WorkerPool::drop(int socket, std::string_view reason) {
  if (!reason.empty() && observer_.dropped) {
    observer_.dropped(reason);
  }
  ::shutdown(socket, SHUT_RDWR);
  ::close(socket);
}

void WorkerPool::watch() {
  constexpr int kEvents = 64;
  epoll_event events[kEvents];
  while (true) {
    int timeout = -1;
    {
      const std::lock_guard lock(waitingMutex_);
      if (closing_) {
        return;
      }
      const auto now = Clock::now();
      while (!byDeadline_.empty() && byDeadline_.begin()->first <= now) {
        const int socket = byDeadline_.begin()->second;
        const bool idle = waiting_[socket].idle;
        forget(socket);
        // An idle kept-alive connection that ends is normal; one whose request never came
        // (or came too slowly) is counted.
        drop(socket, idle ? "" : "timeout");
      }
      if (!byDeadline_.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(byDeadline_.begin()->first - now);
        timeout = static_cast<int>(std::min<long long>(left.count(), 60000));
      }
    }
    const int count = ::epoll_wait(epoll_, events, kEvents, timeout);
    if (count < 0 && errno != EINTR) {
      return;
    }
    const std::lock_guard lock(waitingMutex_);
    for (int k = 0; k < count; ++k) {
      const int socket = events[k].data.fd;
      if (socket == wake_) {
        std::uint64_t value = 0;
        [[maybe_unused]] const auto read = ::read(wake_, &value, sizeof value);
        continue;
      }
      const auto it = waiting_.find(socket);
      if (it == waiting_.end()) {
        continue;
      }
      // Take what has arrived; the waiting room holds at most a capped head and a body.
      auto& received = it->second.received;
      char buffer[16 * 1024];
      const auto got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        forget(socket);
        drop(socket, "");
        continue;
      }
      if (got > 0) {
        received.append(buffer, static_cast<std::size_t>(got));
      }
      const auto arrival = received.size() >= kMaxHead + kMaxBody ? Arrival::ready : examine(received);
      const auto now = Clock::now();
      if (it->second.idle && arrival != Arrival::nothing) {
        // A request has begun on a kept-alive connection: from here it has the whole
        // request's time.
        byDeadline_.erase({it->second.deadline, socket});
        it->second.deadline = now + limits_.requestTimeout;
        it->second.idle = false;
        byDeadline_.emplace(it->second.deadline, socket);
      }
      if (arrival == Arrival::ready) {
        const auto deadline = it->second.deadline;
        std::string bytes = std::move(received);
        forget(socket);
        const bool queued = push(Task{[this, socket, deadline, bytes = std::move(bytes)](bool refused) mutable {
                                        if (refused) {
                                          refuse(socket);
                                        } else {
                                          serve_(socket, deadline, false, std::move(bytes));
                                        }
                                      },
                                      now, deadline});
        if (!queued) {
          if (observer_.dropped) {
            observer_.dropped("queue_full");
          }
          refuse(socket);
        }
        continue;
      }
      epoll_event event{};
      event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
      event.data.fd = socket;
      ::epoll_ctl(epoll_, EPOLL_CTL_MOD, socket, &event);
    }
  }
}

WorkerPool::Arrival WorkerPool::examine(std::string_view seen) {
  if (seen.empty()) {
    return Arrival::nothing;
  }
  auto end = seen.find("\r\n\r\n");
  std::size_t bodyStart = end == std::string_view::npos ? end : end + 4;
  if (const auto bare = seen.find("\n\n"); bare != std::string_view::npos && bare < end) {
    end = bare;
    bodyStart = bare + 2;
  }
  const std::string_view head = seen.substr(0, std::min(end, seen.size()));
  // A head past the caps is ready too: the worker answers 431.
  if (head.size() >= kMaxHead || static_cast<std::size_t>(std::count(head.begin(), head.end(), '\n')) > kMaxHeadLines) {
    return Arrival::ready;
  }
  if (end == std::string_view::npos) {
    return Arrival::partial;
  }
  // A client that sent "Expect: 100-continue" waits for the server before its body.
  if (hasHeader(head, "expect")) {
    return Arrival::ready;
  }
  const auto length = contentLength(head);
  if (length && *length <= kMaxBody && seen.size() - bodyStart < *length) {
    return Arrival::partial;
  }
  return Arrival::ready;
}

void WorkerPool::refuse(int socket) {
  static constexpr std::string_view kBody = R"({"error":"unavailable","message":"the service is busy; try again"})";
  static const std::string answer = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json; charset=utf-8\r\n"
                                    "Retry-After: 1\r\nConnection: close\r\nContent-Length: " +
                                    std::to_string(kBody.size()) + "\r\n\r\n" + std::string(kBody);
  [[maybe_unused]] const auto sent = ::send(socket, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  ::shutdown(socket, SHUT_RDWR);
  ::close(socket);
}

}  // namespace tovik::server
