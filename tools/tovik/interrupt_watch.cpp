#include "tools/tovik/interrupt_watch.h"

#include <csignal>
#include <cstdlib>
#include <system_error>

#include <asio/signal_set.hpp>

#include "tools/tovik/exit_status.h"
#include "tovik/runloop/main_queue.h"

namespace tovik::cli {
namespace {

// "No time-out": far beyond any session, and far from overflowing the clock.
constexpr std::chrono::hours kNoLimit{24 * 365 * 10};

}  // namespace

struct InterruptWatch::Impl {
  asio::signal_set signals{MainQueue::shared().context(), SIGINT, SIGTERM};
  // Shared with the handlers, which may run after the watch is gone (cancelled).
  std::shared_ptr<bool> interrupted = std::make_shared<bool>(false);
};

InterruptWatch::InterruptWatch() : impl_(std::make_unique<Impl>()) {
  auto& signals = impl_->signals;
  signals.async_wait([flag = impl_->interrupted, &signals](const std::error_code& error, int) {
    if (error) {
      return;  // cancelled
    }
    *flag = true;
    // The clean stop is under way; a second Ctrl-C does not wait for it.
    signals.async_wait([](const std::error_code& again, int) {
      if (!again) std::_Exit(kExitInterrupted);
    });
  });
}

InterruptWatch::~InterruptWatch() {
  std::error_code ignored;
  impl_->signals.cancel(ignored);
}

bool InterruptWatch::interrupted() const { return *impl_->interrupted; }

InterruptWatch::Ending InterruptWatch::runUntil(const std::function<bool()>& done,
                                                std::optional<std::chrono::seconds> timeout) const {
  // The queue sleeps until work arrives and looks at the predicate after each handler. All
  // that changes it runs there: the kit's callbacks and the signal watch.
  const auto finished = [&] { return interrupted() || done(); };
  if (!MainQueue::shared().runUntil(finished, timeout.value_or(kNoLimit))) {
    return Ending::timedOut;
  }
  return done() ? Ending::done : Ending::interrupted;
}

}  // namespace tovik::cli
