/* The geofence monitor through the C interface: fences and their options, events fed by the
 * application, from another thread and from the process's source, lifetime. */
#include <math.h>
#include <pthread.h>
#include <stdio.h>

#include "harness.h"

/* Notes each event as "E home" / "X home" / "D home" (or "error: MSG"), ';'-separated. */
typedef struct fence_recorder {
  char heard[512];
  size_t events;
  int releases;
  bool off_main_thread;
  tk_geofence_event last;
  char last_id[64];
  /* When set, the next event destroys this monitor. */
  tk_geofence_monitor* destroy_in_callback;
  tk_geofence_delegate delegate;
} fence_recorder;

static void note(fence_recorder* r, const char* text) {
  const size_t length = strlen(r->heard);
  snprintf(r->heard + length, sizeof r->heard - length, "%s%s", length ? ";" : "", text);
  r->off_main_thread |= !tk_main_queue_is_main_thread();
}

static void on_event(void* context, const tk_geofence_event* event) {
  fence_recorder* r = context;
  char text[96];
  const char kind = event->transition == TK_GEOFENCE_ENTER ? 'E' : event->transition == TK_GEOFENCE_EXIT ? 'X' : 'D';
  snprintf(text, sizeof text, "%c %s", kind, event->id);
  note(r, text);
  ++r->events;
  r->last = *event;
  snprintf(r->last_id, sizeof r->last_id, "%s", event->id);
  r->last.id = r->last_id;
  tk_geofence_monitor* doomed = r->destroy_in_callback;
  r->destroy_in_callback = NULL;
  tk_geofence_monitor_destroy(doomed);
}

static void on_source_error(void* context, const char* msg) {
  char text[256];
  snprintf(text, sizeof text, "error: %s", msg);
  note(context, text);
}

static void on_release(void* context) {
  fence_recorder* r = context;
  ++r->releases;
  r->off_main_thread |= !tk_main_queue_is_main_thread();
}

static tk_geofence_delegate* fence_delegate(fence_recorder* r) {
  r->delegate = (tk_geofence_delegate){TK_GEOFENCE_DELEGATE_SIZE, r, on_event, on_source_error, on_release};
  return &r->delegate;
}

static tk_location fix_at(double latitude, double longitude, int64_t seconds) {
  tk_location fix = tk_location_make(latitude, longitude);
  fix.horizontalAccuracy = 5.0;
  fix.timestamp = 1714528800000 + seconds * 1000; /* 2024-05-01 02:00:00 UTC */
  return fix;
}

static bool heard_events(void* context) {
  const fence_recorder* r = context;
  return r->events >= 8;
}

void test_geofence_fences_and_their_options(void) {
  const tk_geofence_options defaults = tk_geofence_options_make();
  CHECK(defaults.size == TK_GEOFENCE_OPTIONS_SIZE && defaults.datum == TK_DATUM_WGS84);
  CHECK(defaults.transitions == (TK_GEOFENCE_ENTER | TK_GEOFENCE_EXIT) && defaults.exitConfirmations == 2);
  CHECK(defaults.initialTrigger && isinf(defaults.expiry) && defaults.exitBand < 0 && defaults.loiteringDelay == 0);

  tk_geofence_delegate small = {sizeof(size_t), NULL, NULL, NULL, NULL};
  CHECK(tk_geofence_monitor_create(&small) == NULL);
  tk_geofence_monitor* monitor = tk_geofence_monitor_create(NULL);
  CHECK(monitor != NULL);
  const tk_coordinate center = {39.9, 116.4};
  CHECK(tk_geofence_monitor_addCircle(NULL, "a", center, 100, NULL) == TK_ERROR_NULL_ARGUMENT);
  CHECK(tk_geofence_monitor_addCircle(monitor, NULL, center, 100, NULL) == TK_ERROR_NULL_ARGUMENT);
  CHECK(tk_geofence_monitor_addCircle(monitor, "a", center, 0, NULL) == TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_geofence_monitor_addCircle(monitor, "", center, 100, NULL) == TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_geofence_monitor_addCircle(monitor, "a", (tk_coordinate){91, 116.4}, 100, NULL) == TK_ERROR_INVALID_ARGUMENT);

  /* Each option out of range is refused; the table's size first. */
  const struct {
    const char* row;
    tk_geofence_options options;
  } refused[] = {
      {"size", {.size = sizeof(size_t)}},
      {"datum", {TK_GEOFENCE_OPTIONS_SIZE, 3, TK_GEOFENCE_ENTER, 0, INFINITY, true, -1, 2}},
      {"no transition", {TK_GEOFENCE_OPTIONS_SIZE, TK_DATUM_WGS84, 0, 0, INFINITY, true, -1, 2}},
      {"unknown transition", {TK_GEOFENCE_OPTIONS_SIZE, TK_DATUM_WGS84, 8, 0, INFINITY, true, -1, 2}},
      {"loiter", {TK_GEOFENCE_OPTIONS_SIZE, TK_DATUM_WGS84, TK_GEOFENCE_DWELL, NAN, INFINITY, true, -1, 2}},
      {"expiry", {TK_GEOFENCE_OPTIONS_SIZE, TK_DATUM_WGS84, TK_GEOFENCE_EXIT, 0, 0, true, -1, 2}},
      {"band", {TK_GEOFENCE_OPTIONS_SIZE, TK_DATUM_WGS84, TK_GEOFENCE_EXIT, 0, INFINITY, true, INFINITY, 2}},
      {"confirmations", {TK_GEOFENCE_OPTIONS_SIZE, TK_DATUM_WGS84, TK_GEOFENCE_EXIT, 0, INFINITY, true, -1, 0}},
  };
  for (size_t i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
    CHECK_ROW(tk_geofence_monitor_addCircle(monitor, "a", center, 100, &refused[i].options) ==
                  TK_ERROR_INVALID_ARGUMENT,
              refused[i].row);
  }
  CHECK(tk_geofence_monitor_geofenceCount(monitor) == 0);

  /* A polygon with a hole; rings that cannot be read or enclose nothing are refused. */
  const tk_coordinate ring[] = {{39.899, 116.399}, {39.899, 116.401}, {39.901, 116.401}, {39.901, 116.399}};
  const tk_coordinate hole[] = {{39.8998, 116.3998}, {39.8998, 116.4002}, {39.9002, 116.4002}};
  const tk_coordinate* holes[] = {hole};
  const size_t hole_counts[] = {3};
  CHECK(tk_geofence_monitor_addPolygon(monitor, "yard", ring, 4, holes, hole_counts, 1, NULL) == TK_OK);
  CHECK(tk_geofence_monitor_addPolygon(monitor, "p", NULL, 4, NULL, NULL, 0, NULL) == TK_ERROR_NULL_ARGUMENT);
  CHECK(tk_geofence_monitor_addPolygon(monitor, "p", ring, 4, NULL, hole_counts, 1, NULL) == TK_ERROR_NULL_ARGUMENT);
  CHECK(tk_geofence_monitor_addPolygon(monitor, "p", ring, 2, NULL, NULL, 0, NULL) == TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_geofence_monitor_addCircle(monitor, "home", center, 100, &defaults) == TK_OK);
  CHECK(tk_geofence_monitor_geofenceCount(monitor) == 2);
  CHECK(tk_geofence_monitor_removeGeofence(monitor, "home") == TK_OK);
  CHECK(tk_geofence_monitor_removeGeofence(monitor, "home") == TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_geofence_monitor_removeAllGeofences(monitor) == TK_OK);
  CHECK(tk_geofence_monitor_geofenceCount(monitor) == 0 && tk_geofence_monitor_geofenceCount(NULL) == 0);
  tk_geofence_monitor_destroy(monitor);
  tk_geofence_monitor_destroy(NULL);
}

void test_geofence_events(void) {
  fence_recorder r = {0};
  tk_geofence_monitor* monitor = tk_geofence_monitor_create(fence_delegate(&r));
  tk_geofence_options options = tk_geofence_options_make();
  options.transitions = TK_GEOFENCE_ENTER | TK_GEOFENCE_EXIT | TK_GEOFENCE_DWELL;
  options.loiteringDelay = 2;
  CHECK(tk_geofence_monitor_addCircle(monitor, "home", (tk_coordinate){39.9, 116.4}, 100, &options) == TK_OK);
  /* The gate of Tiananmen in GCJ-02: the WGS-84 fix at 39.9087, 116.3975 is inside. */
  options = tk_geofence_options_make();
  options.datum = TK_DATUM_GCJ02;
  CHECK(tk_geofence_monitor_addCircle(monitor, "gate", (tk_coordinate){39.910103, 116.403744}, 30, &options) == TK_OK);

  /* Fed on the main thread, events arrive before the call returns. */
  tk_location fix = fix_at(39.9, 116.4, 0);
  CHECK(tk_geofence_monitor_evaluate(monitor, &fix) == TK_OK);
  CHECK_STR(r.heard, "E home");
  CHECK(r.last.transition == TK_GEOFENCE_ENTER && r.last.time == fix.timestamp);
  CHECK(r.last.location.latitude == 39.9 && r.last.location.horizontalAccuracy == 5.0);
  CHECK(tk_geofence_monitor_isInside(monitor, "home") && !tk_geofence_monitor_isInside(monitor, "gate"));
  fix = fix_at(39.9, 116.4, 2);
  CHECK(tk_geofence_monitor_evaluate(monitor, &fix) == TK_OK);
  fix = fix_at(39.9087, 116.3975, 3);
  CHECK(tk_geofence_monitor_evaluate(monitor, &fix) == TK_OK);
  fix = fix_at(39.9087, 116.3975, 4);
  CHECK(tk_geofence_monitor_evaluate(monitor, &fix) == TK_OK);
  CHECK_STR(r.heard, "E home;D home;E gate;X home");
  CHECK(tk_geofence_monitor_evaluate(monitor, NULL) == TK_ERROR_NULL_ARGUMENT);

  /* From the process's source once attached; its errors too. */
  tk_scripted_location_provider* provider = tk_location_services_use_scripted();
  CHECK(tk_geofence_monitor_attach(monitor) == TK_OK && tk_scripted_location_provider_isUpdating(provider));
  r.heard[0] = '\0';
  fix = fix_at(39.9, 116.4, 5);
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  CHECK(tk_scripted_location_provider_pushError(provider, "TovikLocation", 2, "no receiver") == TK_OK);
  CHECK_STR(r.heard, "E home;error: no receiver");
  CHECK(tk_geofence_monitor_detach(monitor) == TK_OK && !tk_scripted_location_provider_isUpdating(provider));

  /* A monitor destroyed by its own event; its delegate is let go once, on the main thread. */
  CHECK(tk_geofence_monitor_attach(monitor) == TK_OK);
  r.destroy_in_callback = monitor;
  fix = fix_at(39.95, 116.4, 6);
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  fix = fix_at(39.95, 116.4, 7);
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  tk_main_queue_poll();
  CHECK(r.destroy_in_callback == NULL && r.releases == 1 && !r.off_main_thread);
  CHECK(!tk_scripted_location_provider_isUpdating(provider));
  tk_scripted_location_provider_release(provider);
  tk_location_services_use_default();
}

/* Fixes in and out by turns from a second thread; the main thread waits in the queue. */
static void* feed_from_other_thread(void* monitor) {
  for (int i = 0; i < 16; ++i) {
    const tk_location fix = fix_at(i / 2 % 2 ? 39.903 : 39.9, 116.4, i);
    CHECK(tk_geofence_monitor_evaluate(monitor, &fix) == TK_OK);
  }
  /* What belongs to the main thread is refused here. */
  CHECK(tk_geofence_monitor_addCircle(monitor, "b", (tk_coordinate){39.9, 116.4}, 100, NULL) == TK_ERROR_WRONG_THREAD);
  CHECK(tk_geofence_monitor_attach(monitor) == TK_ERROR_WRONG_THREAD);
  return NULL;
}

void test_geofence_fixes_from_another_thread(void) {
  fence_recorder r = {0};
  tk_geofence_monitor* monitor = tk_geofence_monitor_create(fence_delegate(&r));
  CHECK(tk_geofence_monitor_addCircle(monitor, "home", (tk_coordinate){39.9, 116.4}, 100, NULL) == TK_OK);
  tk_main_queue_poll(); /* this thread drives the queue: the main thread */
  pthread_t thread;
  CHECK(pthread_create(&thread, NULL, feed_from_other_thread, monitor) == 0);
  CHECK(tk_main_queue_run_until(heard_events, &r, 20.0));
  CHECK(pthread_join(thread, NULL) == 0);
  CHECK_STR(r.heard, "E home;X home;E home;X home;E home;X home;E home;X home");
  CHECK(!r.off_main_thread);
  tk_geofence_monitor_destroy(monitor);
  tk_main_queue_poll();
  CHECK(r.releases == 1);
}
