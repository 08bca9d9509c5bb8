// The kit inside a libuv loop (Node-style servers and tools have one): a uv_poll_t on the main
// queue's descriptor, a uv_timer_t set to the kit's next timer before each sleep (from a
// uv_prepare_t, which libuv runs just before it polls), and both let the kit run what is ready.
//
//   example_loop_uv [track.nmea] [service-url]

#include <uv.h>

#include <chrono>
#include <cstdint>

#include <tovik/tovik.h>

#include "walk_session.h"

namespace {

// ---- the adapter ----------------------------------------------------------------------------

void kitTimerDue(uv_timer_t* handle);

struct KitHandles {
  uv_poll_t readable;
  uv_timer_t timer;
  uv_prepare_t prepare;
  // Called after each time the kit ran, if set.
  void (*ran)(void* data) = nullptr;
  void* data = nullptr;
};

// The timer follows the kit's next timer, or is stopped.
void kitFollow(KitHandles* kit) {
  const auto next = tovik::MainQueue::shared().nextTimeout();
  if (!next) {
    uv_timer_stop(&kit->timer);
    return;
  }
  uv_update_time(kit->timer.loop);  // the loop's cached clock may be a turn old
  // Rounded up: waking a millisecond early would find the timer not yet due.
  uv_timer_start(&kit->timer, kitTimerDue,
                 static_cast<uint64_t>(std::chrono::ceil<std::chrono::milliseconds>(*next).count()), 0);
}

void kitRun(KitHandles* kit) {
  tovik::MainQueue::shared().poll();
  // At once, not only before the next sleep: libuv runs due timers before its prepare
  // handles, so a timer left for a deadline the kit has just met would wake it for nothing.
  kitFollow(kit);
  if (kit->ran != nullptr) {
    kit->ran(kit->data);
  }
}

void kitReadable(uv_poll_t* handle, int, int) { kitRun(static_cast<KitHandles*>(handle->data)); }

void kitTimerDue(uv_timer_t* handle) { kitRun(static_cast<KitHandles*>(handle->data)); }

// Before libuv sleeps: the kit may have set a timer from anywhere since the last turn.
void kitPrepare(uv_prepare_t* handle) { kitFollow(static_cast<KitHandles*>(handle->data)); }

/// Starts the kit's three handles on `loop`; `kit` must outlive them (uv_close each at the end).
int addKit(uv_loop_t* loop, KitHandles* kit) {
  kit->readable.data = kit->timer.data = kit->prepare.data = kit;
  int r = uv_poll_init(loop, &kit->readable, tovik::MainQueue::shared().fd());
  if (r == 0) {
    r = uv_poll_start(&kit->readable, UV_READABLE, kitReadable);
  }
  if (r == 0) {
    r = uv_timer_init(loop, &kit->timer);
  }
  if (r == 0) {
    r = uv_prepare_init(loop, &kit->prepare);
  }
  return r == 0 ? uv_prepare_start(&kit->prepare, kitPrepare) : r;
}

/// Closes the kit's handles; run the loop once more to let libuv finish closing them.
void removeKit(KitHandles* kit) {
  uv_close(reinterpret_cast<uv_handle_t*>(&kit->readable), nullptr);
  uv_close(reinterpret_cast<uv_handle_t*>(&kit->timer), nullptr);
  uv_close(reinterpret_cast<uv_handle_t*>(&kit->prepare), nullptr);
}

// ---- the program ----------------------------------------------------------------------------

}  // namespace

int main(int argc, char** argv) {
  uv_loop_t* loop = uv_default_loop();
  const auto session = walk::Session::start(argc, argv, [loop] { uv_stop(loop); });
  KitHandles kit;
  kit.ran = [](void* data) { static_cast<walk::Session*>(data)->noteWake(); };
  kit.data = session.get();
  if (addKit(loop, &kit) != 0) {
    return 2;
  }
  // The host's own handle: gives up if the results never come.
  uv_timer_t giveUp;
  uv_timer_init(loop, &giveUp);
  uv_timer_start(&giveUp, [](uv_timer_t* timer) { uv_stop(timer->loop); }, walk::kGiveUpSeconds * 1000u, 0);

  uv_run(loop, UV_RUN_DEFAULT);
  const int status = session->finish();
  removeKit(&kit);
  uv_close(reinterpret_cast<uv_handle_t*>(&giveUp), nullptr);
  uv_run(loop, UV_RUN_DEFAULT);  // completes the closes
  uv_loop_close(loop);
  return status;
}
