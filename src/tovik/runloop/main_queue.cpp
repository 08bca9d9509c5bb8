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
  // Stands for the main thread until a thread drives the queue: the one that asked for it first.
  const std::thread::id creator = std::this_thread::get_id();
  // The thread that drives the queue, set once by the first driving call and never changed,
  // so that handlers never run on two threads at once.
  std::atomic<std::thread::id> driver{};
  // Readable while work posted through `async` (or a cancelled timer) waits for a host's
  // `poll`; `signaled` spares a write for every post but the first.
  const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  std::atomic<bool> signaled{false};
  // True while the main thread is inside `poll()`: what it posts then runs in that same poll
  // (Asio runs work posted by a handler before `poll` returns), so waking the host for it
  // would only wake it to find nothing. Touched by the main thread only.
  bool polling = false;
  // When each armed timer of the kit falls due, for `nextTimeout`.
  std::mutex deadlinesMutex;
  std::map<const void*, std::chrono::steady_clock::time_point> deadlines;

  void wake() {
    if (!signaled.exchange(true) && wakeFd >= 0) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }
  }

  // Before running what is ready: anything posted from now on signals again. The descriptor
  // is drained first and the flag lowered after, whatever the flag said: a post whose flag was
  // lowered here has its work run by the poll that follows, and a post that raises the flag
  // again writes after this read, so the descriptor is never left empty under a raised flag
  // (the host would sleep with work waiting) nor readable for good under a lowered one (its
  // loop would spin until the next post).
  void clearWake() {
    if (wakeFd >= 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
    }
    signaled.store(false);
  }

  bool onMainThread() const {
    const std::thread::id driving = driver.load();
    return (driving == std::thread::id{} ? creator : driving) == std::this_thread::get_id();
  }

  // The first driving call makes its thread the main thread for good (one compare-and-swap,
  // so two first calls cannot both win); a later one from another thread is refused. Revives
  // a stopped context.
  bool enter() {
    const auto self = std::this_thread::get_id();
    std::thread::id current{};
    if (!driver.compare_exchange_strong(current, self) && current != self) {
      sdkLog("[Tovik] 主队列只能由主线程驱动，此调用被忽略");
      return false;
    }
    if (context.stopped()) {
      context.restart();
    }
    return true;
  }

  // Marks a `poll()` of the main thread. Work left behind when it ends early (a stop, or a
  // handler that threw) wakes the host again, since its posts did not.
  class PollScope {
   public:
    explicit PollScope(Impl& impl) : impl_(impl) { impl_.polling = true; }
    ~PollScope() {
      impl_.polling = false;
      if (!finished_ || impl_.context.stopped()) {
        impl_.wake();
      }
    }
    PollScope(const PollScope&) = delete;
    PollScope& operator=(const PollScope&) = delete;
    void finished() { finished_ = true; }

   private:
    Impl& impl_;
    bool finished_ = false;
  };
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
    if (!impl_->onMainThread() || !impl_->polling) {
      impl_->wake();
    }
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
  Impl::PollScope scope(*impl_);
  const std::size_t ran = impl_->context.poll();
  scope.finished();
  return ran;
}

void MainQueue::stop() { impl_->context.stop(); }

bool MainQueue::isMainThread() const { return impl_->onMainThread(); }

asio::io_context& MainQueue::context() { return impl_->context; }

}  // namespace tovik
