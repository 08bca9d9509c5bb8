/* The C interface's end-to-end tests, written in C against tovik_c.h only (plus the
 * loopback server): the harness, then every case in order. */
#include <math.h>
#include <stdio.h>

#include "harness.h"

static int failures = 0;
test_server* g_server = NULL;

void c_check(bool ok, const char* file, int line, const char* row, const char* text) {
  if (!ok) {
    fprintf(stderr, "%s:%d: %s%scheck failed: %s\n", file, line, row ? row : "", row ? ": " : "", text);
    ++failures;
  }
}

void c_check_str(const char* actual, const char* expected, const char* file, int line, const char* text) {
  char row[1024];
  snprintf(row, sizeof row, "\"%s\" is not \"%s\"", actual ? actual : "(null)", expected);
  c_check(actual != NULL && strcmp(actual, expected) == 0, file, line, row, text);
}

static void heard(recorder* r, char what) {
  const size_t length = strlen(r->heard);
  if (length + 1 < sizeof r->heard) r->heard[length] = what;
  r->off_main_thread |= !tk_main_queue_is_main_thread();
}

static void keep_location(recorder* r, const tk_location_res* location, char what) {
  heard(r, what);
  tk_location_res_release(r->kept_location);
  r->kept_location = tk_location_res_retain(location);
}

static void keep_list(recorder* r, const tk_geocode_list* list, char what) {
  heard(r, what);
  tk_geocode_list_release(r->kept_list);
  r->kept_list = tk_geocode_list_retain(list);
}

static bool always(void* context) {
  (void)context;
  return true;
}

static void on_location(void* context, const tk_location_res* location) {
  recorder* r = context;
  keep_location(r, location, 'L');
  /* A predicate that already holds: driving would return true at once, refusing returns false. */
  r->refused_nested_runs += !tk_main_queue_run_until(always, NULL, 1.0);
  tk_client_location* doomed = r->destroy_in_callback;
  r->destroy_in_callback = NULL;
  tk_client_location_destroy(doomed);
}

static void on_error(void* context, const char* msg) {
  recorder* r = context;
  heard(r, 'E');
  snprintf(r->last_error, sizeof r->last_error, "%s", msg);
}

static void on_reverse(void* context, const tk_location_res* location) { keep_location(context, location, 'R'); }

static void on_geocode(void* context, const tk_geocode_list* list) { keep_list(context, list, 'G'); }

static void on_poi(void* context, const tk_geocode_list* list) { keep_list(context, list, 'P'); }

static void on_typed(void* context, const tk_error* error) {
  recorder* r = context;
  ++r->typed_count;
  snprintf(r->last_typed, sizeof r->last_typed, "%s/%d/%s/%d%s", tk_error_domain_name(error->domain), error->code,
           tk_call_name(error->call), error->attempts, strcmp(error->message, r->last_error) == 0 ? "" : " (other text)");
}

static void on_raw(void* context, const tk_raw_location* fix) {
  recorder* r = context;
  ++r->raw_count;
  snprintf(r->last_raw, sizeof r->last_raw, "%.4f %.4f %s%s", fix->location.latitude, fix->location.longitude,
           fix->source, fix->simulated ? " simulated" : "");
}

static void on_availability(void* context, const tk_location_availability* change) {
  recorder* r = context;
  ++r->availability_count;
  snprintf(r->last_availability, sizeof r->last_availability, "%s %s %s%s%s", change->available ? "true" : "false",
           tk_availability_reason_name(change->reason), change->source, isnan(change->lastFixAge) ? " (no fix)" : "",
           change->expectedInterval >= 0.2 ? "" : " (no interval)");
}

static void on_release(void* context) {
  recorder* r = context;
  ++r->releases;
  r->off_main_thread |= !tk_main_queue_is_main_thread();
}

/* In the table's order: size, context, the five callbacks, the release, the raw fix, the
 * typed error and the availability. */
tk_location_delegate* recorder_delegate(recorder* r) {
  r->delegate = (tk_location_delegate){TK_LOCATION_DELEGATE_SIZE, r, on_location, on_error, on_reverse, on_geocode,
                                       on_poi, on_release, on_raw, on_typed, on_availability};
  return &r->delegate;
}

static bool heard_enough(void* context) {
  const recorder* r = context;
  return strlen(r->heard) >= r->wanted;
}

static bool released(void* context) { return ((const recorder*)context)->releases > 0; }

/* The waits are generous: a loopback answer takes milliseconds. */
const char* recorder_wait(recorder* r, size_t count) {
  r->wanted = count;
  tk_main_queue_run_until(heard_enough, r, 20.0);
  return r->heard;
}

bool recorder_wait_released(recorder* r) { return tk_main_queue_run_until(released, r, 20.0); }

tk_client_location* ready_facade(const tk_location_delegate* delegate) {
  tk_client_location* client = tk_client_location_create(delegate);
  CHECK(tk_client_location_setAgreePrivacyWithIsAgree(client, true) == TK_OK);
  CHECK(tk_client_location_initKeyWithAccesskey(client, "AK") == TK_OK);
  CHECK(tk_client_location_setServiceURL(client, test_server_base_url(g_server)) == TK_OK);
  return client;
}

static void run(const char* name, void (*test)(void)) {
  const int before = failures;
  test();
  printf("[%s] %s\n", failures != before ? "FAILED" : "    OK", name);
}

#define RUN(test) run(#test, test)

int main(void) {
  g_server = test_server_start();
  /* What the service answers in every case. */
  test_server_respond_file(g_server, "POST", TRACK_PATH, "location.json");
  test_server_respond_file(g_server, "GET", "/location/scenario/v1/geocode", "two_places.json");
  test_server_respond_file(g_server, "GET", "/location/scenario/v1/placesearch", "two_places.json");
  test_server_respond_file(g_server, "GET", "/location/scenario/v1/nearbysearch", "two_places.json");
  RUN(test_transforms_match_reference_values);
  RUN(test_version_status_and_main_queue);
  RUN(test_properties_and_arguments);
  RUN(test_delegate_context_released_once);
  RUN(test_main_thread_entries_refuse_other_threads);
  RUN(test_location_sessions);
  RUN(test_service_calls_deliver_results);
  RUN(test_missing_optional_member_drops_result);
  RUN(test_typed_errors_datum_and_service_address);
  RUN(test_geofence_fences_and_their_options);
  RUN(test_geofence_events);
  RUN(test_geofence_fixes_from_another_thread);
  RUN(test_availability_and_last_location);
  test_server_stop(g_server);
  printf("%d checks failed\n", failures);
  return failures == 0 ? 0 : 1;
}
