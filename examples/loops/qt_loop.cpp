// The kit inside a Qt event loop: a QSocketNotifier on the main queue's descriptor, a
// single-shot QTimer set to the kit's next timer each time the loop is about to sleep, and
// both let the kit run what is ready. Needs only QtCore; no moc.
//
//   example_loop_qt [track.nmea] [service-url]

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <functional>
#include <utility>

#include <tovik/tovik.h>

#include "walk_session.h"

namespace {

// ---- the adapter ----------------------------------------------------------------------------

/// Runs the kit's main queue from the Qt event loop of the thread that creates it (after the
/// QCoreApplication). `ran`, if set, is called after each time the kit ran.
class KitNotifier {
 public:
  explicit KitNotifier(std::function<void()> ran = {})
      : notifier_(tovik::MainQueue::shared().fd(), QSocketNotifier::Read), ran_(std::move(ran)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);  // the coarse default may fire 5 % late
    QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { run(); });
    QObject::connect(&timer_, &QTimer::timeout, [this] { run(); });
    // Before each sleep: the kit may have set a timer from anywhere since the last turn.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     [this] { follow(); });
    follow();
  }

 private:
  void run() {
    tovik::MainQueue::shared().poll();
    if (ran_) {
      ran_();
    }
    follow();
  }

  void follow() {
    const auto next = tovik::MainQueue::shared().nextTimeout();
    if (!next) {
      timer_.stop();
      return;
    }
    // Rounded up: waking a millisecond early would find the timer not yet due.
    timer_.start(std::min(std::chrono::ceil<std::chrono::milliseconds>(*next), std::chrono::milliseconds(INT_MAX)));
  }

  QSocketNotifier notifier_;
  QTimer timer_;
  std::function<void()> ran_;
};

// ---- the program ----------------------------------------------------------------------------

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const auto session = walk::Session::start(argc, argv, [] { QCoreApplication::quit(); });
  KitNotifier kit([&session] { session->noteWake(); });
  // The host's own timer: gives up if the results never come.
  QTimer::singleShot(std::chrono::seconds(walk::kGiveUpSeconds), [] { QCoreApplication::quit(); });
  app.exec();
  return session->finish();
}
