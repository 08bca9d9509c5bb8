// The kit inside an sd-event loop (systemd's; services that speak sd-bus often have one): an
// I/O source on the main queue's descriptor, a time source set to the kit's next timer before
// each sleep (the I/O source's prepare callback), and both let the kit run what is ready.
//
//   example_loop_sd_event [track.nmea] [service-url]

#include <systemd/sd-event.h>
#include <time.h>

#include <chrono>
#include <cstdint>

#include <tovik/tovik.h>

#include "walk_session.h"

namespace {

// ---- the adapter ----------------------------------------------------------------------------

struct KitSources {
  sd_event_source* io = nullptr;
  sd_event_source* timer = nullptr;
  // Called after each time the kit ran, if set.
  void (*ran)(void* data) = nullptr;
  void* data = nullptr;
};

int kitRun(KitSources* kit) {
  tovik::MainQueue::shared().poll();
  if (kit->ran != nullptr) {
    kit->ran(kit->data);
  }
  return 0;
}

int kitReadable(sd_event_source*, int, uint32_t, void* kit) { return kitRun(static_cast<KitSources*>(kit)); }

int kitTimerDue(sd_event_source*, uint64_t, void* kit) { return kitRun(static_cast<KitSources*>(kit)); }

// Before the loop sleeps: the time source follows the kit's next timer, or is off.
int kitPrepare(sd_event_source*, void* data) {
  const auto* kit = static_cast<KitSources*>(data);
  const auto next = tovik::MainQueue::shared().nextTimeout();
  if (!next) {
    return sd_event_source_set_enabled(kit->timer, SD_EVENT_OFF);
  }
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t at = static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u +
                      static_cast<uint64_t>(std::chrono::ceil<std::chrono::microseconds>(*next).count());
  const int set = sd_event_source_set_time(kit->timer, at);
  return set < 0 ? set : sd_event_source_set_enabled(kit->timer, SD_EVENT_ONESHOT);
}

/// Adds the kit's two sources to `event`; `kit` must outlive them.
int addKit(sd_event* event, KitSources* kit) {
  int r = sd_event_add_io(event, &kit->io, tovik::MainQueue::shared().fd(), EPOLLIN, kitReadable, kit);
  if (r >= 0) {
    r = sd_event_source_set_prepare(kit->io, kitPrepare);
  }
  if (r >= 0) {
    // Accuracy 1 ms: the default (250 ms) would let sd-event fire the kit's timers that late.
    r = sd_event_add_time(event, &kit->timer, CLOCK_MONOTONIC, UINT64_MAX, 1000, kitTimerDue, kit);
  }
  if (r >= 0) {
    r = sd_event_source_set_enabled(kit->timer, SD_EVENT_OFF);
  }
  return r;
}

// ---- the program ----------------------------------------------------------------------------

}  // namespace

int main(int argc, char** argv) {
  sd_event* event = nullptr;
  if (sd_event_default(&event) < 0) {
    return 2;
  }
  const auto session = walk::Session::start(argc, argv, [event] { sd_event_exit(event, 0); });
  KitSources kit;
  kit.ran = [](void* data) { static_cast<walk::Session*>(data)->noteWake(); };
  kit.data = session.get();
  if (addKit(event, &kit) < 0) {
    return 2;
  }
  // The host's own source: gives up if the results never come.
  sd_event_add_time_relative(
      event, nullptr, CLOCK_MONOTONIC, walk::kGiveUpSeconds * 1000000ull, 0,
      [](sd_event_source* source, uint64_t, void*) { return sd_event_exit(sd_event_source_get_event(source), 0); },
      nullptr);

  sd_event_loop(event);
  const int status = session->finish();
  sd_event_source_unref(kit.timer);
  sd_event_source_unref(kit.io);
  sd_event_unref(event);
  return status;
}
