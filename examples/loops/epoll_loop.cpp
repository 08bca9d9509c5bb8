// The kit inside a plain epoll loop: the main queue's descriptor sits in the host's epoll set
// beside its own (here a timerfd that gives up after a while), epoll_wait sleeps for as long as
// the kit's next timer allows, and the kit runs what is ready each time the loop wakes.
//
//   example_loop_epoll [track.nmea] [service-url]

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include <tovik/tovik.h>

#include "walk_session.h"

namespace {

// ---- the adapter ----------------------------------------------------------------------------

/// Adds the kit's descriptor to `epollFd` (level-triggered: readable while kit work waits).
bool addKit(int epollFd) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = tovik::MainQueue::shared().fd();
  return ::epoll_ctl(epollFd, EPOLL_CTL_ADD, event.data.fd, &event) == 0;
}

/// The timeout for epoll_wait: until the kit's next timer, or for ever (-1) when none is set.
int kitTimeoutMs() {
  const auto next = tovik::MainQueue::shared().nextTimeout();
  // Rounded up: waking a millisecond early would find the timer not yet due.
  const auto ms = next ? std::chrono::ceil<std::chrono::milliseconds>(*next).count() : -1;
  return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

// ---- the program ----------------------------------------------------------------------------

}  // namespace

int main(int argc, char** argv) {
  const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0 || !addKit(epollFd)) {
    return 2;
  }
  // The host's own descriptor: a timer that ends the wait if the results never come.
  const int giveUp = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  itimerspec when{};
  when.it_value.tv_sec = walk::kGiveUpSeconds;
  ::timerfd_settime(giveUp, 0, &when, nullptr);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = giveUp;
  ::epoll_ctl(epollFd, EPOLL_CTL_ADD, giveUp, &event);

  bool running = true;
  const auto session = walk::Session::start(argc, argv, [&] { running = false; });
  while (running) {
    epoll_event ready[4];
    const int count = ::epoll_wait(epollFd, ready, 4, kitTimeoutMs());
    for (int i = 0; i < count; ++i) {
      if (ready[i].data.fd == giveUp) {
        running = false;
      }
    }
    // The kit's descriptor was readable, or its timer fell due (a time-out): either way the
    // kit runs what is ready now, and never blocks.
    session->noteWake();
    tovik::MainQueue::shared().poll();
  }
  const int status = session->finish();
  ::close(giveUp);
  ::close(epollFd);
  return status;
}
