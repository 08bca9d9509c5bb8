// The kit inside a GLib main loop (GTK programs have one): a GSource watches the main queue's
// descriptor and gives GLib the kit's next timeout, and its dispatch lets the kit run what is
// ready. Attach it to the GMainContext that runs on the thread that calls the kit.
//
//   example_loop_glib [track.nmea] [service-url]

#include <glib.h>

#include <algorithm>
#include <chrono>

#include <tovik/tovik.h>

#include "walk_session.h"

namespace {

// ---- the adapter ----------------------------------------------------------------------------

struct KitSource {
  GSource source;  // first: GLib hands the callbacks this pointer
  gpointer tag;    // the descriptor's entry in the source
};

// Before GLib sleeps: how long it may (-1: until the descriptor wakes it), and whether a timer
// is due already.
gboolean kitPrepare(GSource*, gint* timeout) {
  const auto next = tovik::MainQueue::shared().nextTimeout();
  // Rounded up: waking a millisecond early would find the timer not yet due.
  const auto ms = next ? std::chrono::ceil<std::chrono::milliseconds>(*next).count() : -1;
  *timeout = static_cast<gint>(std::min<decltype(ms)>(ms, G_MAXINT));
  return *timeout == 0;
}

// After it woke: work waits (the descriptor is readable) or a timer fell due.
gboolean kitCheck(GSource* source) {
  const auto* kit = reinterpret_cast<KitSource*>(source);
  if (g_source_query_unix_fd(source, kit->tag) & G_IO_IN) {
    return TRUE;
  }
  const auto next = tovik::MainQueue::shared().nextTimeout();
  return next && next->count() == 0;
}

gboolean kitDispatch(GSource*, GSourceFunc callback, gpointer data) {
  tovik::MainQueue::shared().poll();
  if (callback != nullptr) {
    callback(data);  // g_source_set_callback's function, if the host set one
  }
  return G_SOURCE_CONTINUE;
}

GSourceFuncs kitSourceFuncs = {kitPrepare, kitCheck, kitDispatch, nullptr, nullptr, nullptr};

/// A new source that runs the kit's main queue; g_source_attach it, then g_source_unref.
GSource* kitSourceNew() {
  GSource* source = g_source_new(&kitSourceFuncs, sizeof(KitSource));
  g_source_set_name(source, "tovik main queue");
  reinterpret_cast<KitSource*>(source)->tag = g_source_add_unix_fd(source, tovik::MainQueue::shared().fd(), G_IO_IN);
  return source;
}

// ---- the program ----------------------------------------------------------------------------

}  // namespace

int main(int argc, char** argv) {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  const auto session = walk::Session::start(argc, argv, [loop] { g_main_loop_quit(loop); });

  GSource* kit = kitSourceNew();
  // Counts the loop's wakes for the kit: the source's callback runs after each dispatch.
  const GSourceFunc noteWake = [](gpointer data) -> gboolean {
    static_cast<walk::Session*>(data)->noteWake();
    return G_SOURCE_CONTINUE;
  };
  g_source_set_callback(kit, noteWake, session.get(), nullptr);
  g_source_attach(kit, nullptr);
  // The host's own source: gives up if the results never come.
  const GSourceFunc giveUp = [](gpointer data) -> gboolean {
    g_main_loop_quit(static_cast<GMainLoop*>(data));
    return G_SOURCE_REMOVE;
  };
  g_timeout_add_seconds(walk::kGiveUpSeconds, giveUp, loop);

  g_main_loop_run(loop);
  const int status = session->finish();
  g_source_destroy(kit);
  g_source_unref(kit);
  g_main_loop_unref(loop);
  return status;
}
