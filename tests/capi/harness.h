/* The C interface's test harness: checks that count failures and name the line, the
 * loopback server (a C shim over the C++ test server), a recording delegate, and the cases
 * capi_main.c runs in order. */
#ifndef TOVIK_TESTS_CAPI_HARNESS_H
#define TOVIK_TESTS_CAPI_HARNESS_H

#include <stdbool.h>
#include <stddef.h>
#include <string.h>

#include <tovik/tovik_c.h>

void c_check(bool ok, const char* file, int line, const char* row, const char* text);
void c_check_str(const char* actual, const char* expected, const char* file, int line, const char* text);
#define CHECK(condition) c_check((condition), __FILE__, __LINE__, NULL, #condition)
/* A check inside a table's loop: names the row that failed. */
#define CHECK_ROW(condition, row) c_check((condition), __FILE__, __LINE__, (row), #condition)
#define CHECK_STR(actual, expected) c_check_str((actual), (expected), __FILE__, __LINE__, #actual)

#define TRACK_PATH "/location/hub/v1/track_points"

/* A real HTTP server on 127.0.0.1 with canned answers, shared by every case; main() sets the
 * answers every case gets. */
typedef struct test_server test_server;
extern test_server* g_server;
test_server* test_server_start(void);
void test_server_stop(test_server* server);
/* "http://127.0.0.1:PORT"; valid while the server lives. */
const char* test_server_base_url(const test_server* server);
/* Answers `method` on `path` with 200 and the JSON of the file `name` in data/. */
void test_server_respond_file(test_server* server, const char* method, const char* path, const char* name);
size_t test_server_request_count(const test_server* server);
/* Whether the last request was `method` on `path` and its query item `name` is `value`. */
bool test_server_last_request_is(const test_server* server, const char* method, const char* path, const char* name,
                                 const char* value);

/* A delegate that notes every callback in `heard`, one letter each in order (L location,
 * E error, R reverse geocode, G geocode, P place search), counts the releases of its
 * context, and keeps the last results (retained, so they outlive the callback) and the last
 * error text. */
typedef struct recorder {
  char heard[32];
  size_t wanted;
  int releases;
  bool off_main_thread;
  char last_error[512];
  tk_location_res* kept_location;
  tk_geocode_list* kept_list;
  /* When set, the location callback destroys this facade (and clears the pointer). */
  tk_client_location* destroy_in_callback;
  /* Location callbacks in which the queue refused to be driven. */
  int refused_nested_runs;
  /* The typed errors and raw fixes, kept apart from `heard`: the last as text, and counts. */
  int typed_count;
  char last_typed[160];
  int raw_count;
  char last_raw[160];
  /* The availability changes likewise: "AVAILABLE REASON SOURCE", and whether the last fix's
   * age and the expected interval were numbers. */
  int availability_count;
  char last_availability[160];
  tk_location_delegate delegate;
} recorder;

/* `r`'s delegate table, with every member set, reporting into `r`. */
tk_location_delegate* recorder_delegate(recorder* r);
/* Drives the main queue until `r` has heard `count` callbacks (or time is up); its `heard`. */
const char* recorder_wait(recorder* r, size_t count);
/* Checks that `r` hears exactly `sequence`, driving the queue until it has heard as many. */
#define CHECK_HEARD(r, sequence) CHECK_STR(recorder_wait((r), strlen(sequence)), (sequence))
/* The kit lets go of the delegate once the last task holding the facade has finished,
 * which may be a turn after that task's callback. */
bool recorder_wait_released(recorder* r);
/* A facade with consent and key "AK", talking to the loopback server. */
tk_client_location* ready_facade(const tk_location_delegate* delegate);

void test_transforms_match_reference_values(void);
void test_version_status_and_main_queue(void);
void test_properties_and_arguments(void);
void test_delegate_context_released_once(void);
void test_main_thread_entries_refuse_other_threads(void);
void test_location_sessions(void);
void test_service_calls_deliver_results(void);
void test_missing_optional_member_drops_result(void);
void test_availability_and_last_location(void);
void test_typed_errors_datum_and_service_address(void);
void test_geofence_fences_and_their_options(void);
void test_geofence_events(void);
void test_geofence_fixes_from_another_thread(void);

#endif
