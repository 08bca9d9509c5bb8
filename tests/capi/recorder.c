#include "recorder.h"

#include <stdio.h>
#include <string.h>

#include "c_check.h"

static void keep_location(recorder* r, const tk_location_res* location) {
  tk_location_res_release(r->kept_location);
  r->kept_location = tk_location_res_retain(location);
  if (!tk_main_queue_is_main_thread()) {
    r->off_main_thread = true;
  }
}

static void keep_list(recorder* r, const tk_geocode_list* list) {
  tk_geocode_list_release(r->kept_list);
  r->kept_list = tk_geocode_list_retain(list);
  if (!tk_main_queue_is_main_thread()) {
    r->off_main_thread = true;
  }
}

static bool always(void* context) {
  (void)context;
  return true;
}

static void on_location(void* context, const tk_location_res* location) {
  recorder* r = context;
  ++r->locations;
  keep_location(r, location);
  /* A predicate that already holds: driving would return true at once, refusing returns false. */
  if (!tk_main_queue_run_until(always, NULL, 1.0)) {
    ++r->refused_nested_runs;
  }
  if (r->destroy_in_callback != NULL) {
    tk_client_location* doomed = r->destroy_in_callback;
    r->destroy_in_callback = NULL;
    tk_client_location_destroy(doomed);
  }
}

static void on_error(void* context, const char* msg) {
  recorder* r = context;
  ++r->errors;
  snprintf(r->last_error, sizeof r->last_error, "%s", msg);
}

static void on_reverse(void* context, const tk_location_res* location) {
  recorder* r = context;
  ++r->reverses;
  keep_location(r, location);
}

static void on_geocode(void* context, const tk_geocode_list* list) {
  recorder* r = context;
  ++r->geocodes;
  keep_list(r, list);
}

static void on_poi(void* context, const tk_geocode_list* list) {
  recorder* r = context;
  ++r->pois;
  keep_list(r, list);
}

static void on_release(void* context) {
  recorder* r = context;
  ++r->releases;
  if (!tk_main_queue_is_main_thread()) {
    r->off_main_thread = true;
  }
}

tk_location_delegate recorder_delegate(recorder* r) {
  tk_location_delegate delegate = {.size = TK_LOCATION_DELEGATE_SIZE,
                                   .context = r,
                                   .onReceivedLocationWithTkLocation = on_location,
                                   .onLocationErrorWithMsg = on_error,
                                   .onReceivedReverseCodeWithTkLocation = on_reverse,
                                   .onReceivedGeocodeWithResult = on_geocode,
                                   .onReceivedPoiSearchWithResult = on_poi,
                                   .releaseContext = on_release};
  return delegate;
}

void recorder_clear(recorder* r) {
  tk_location_res_release(r->kept_location);
  tk_geocode_list_release(r->kept_list);
  r->kept_location = NULL;
  r->kept_list = NULL;
}

int recorder_events(const recorder* r) { return r->locations + r->errors + r->reverses + r->geocodes + r->pois; }

typedef struct wanted_events {
  recorder* r;
  int count;
} wanted_events;

static bool heard_enough(void* context) {
  const wanted_events* wanted = context;
  return recorder_events(wanted->r) >= wanted->count;
}

static bool released(void* context) { return ((const recorder*)context)->releases > 0; }

/* The kit lets go of the delegate once the last task holding the facade has finished,
 * which may be a turn after that task's callback. */
bool recorder_wait_released(recorder* r) { return tk_main_queue_run_until(released, r, C_CHECK_TIMEOUT_SECONDS); }

bool recorder_wait(recorder* r, int count) {
  wanted_events wanted = {r, count};
  return tk_main_queue_run_until(heard_enough, &wanted, C_CHECK_TIMEOUT_SECONDS);
}
