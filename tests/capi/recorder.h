/* A delegate for the tests: counts every callback, keeps the last results (retained, so
 * they outlive the callback) and the last error text. */
#ifndef TOVIK_TESTS_CAPI_RECORDER_H
#define TOVIK_TESTS_CAPI_RECORDER_H

#include <stdbool.h>
#include <stddef.h>

#include <tovik/tovik_c.h>

typedef struct recorder {
  int locations;
  int errors;
  int reverses;
  int geocodes;
  int pois;
  int releases;
  bool off_main_thread;
  char last_error[512];
  tk_location_res* kept_location;
  tk_geocode_list* kept_list;
  /* When set, the location callback destroys this facade (and clears the pointer). */
  tk_client_location* destroy_in_callback;
  /* Callbacks that ran while the queue refused to be driven from inside them. */
  int refused_nested_runs;
} recorder;

/* A delegate table with every member set, reporting into `r`. */
tk_location_delegate recorder_delegate(recorder* r);
/* Releases the kept results. */
void recorder_clear(recorder* r);
/* Total callbacks of any kind. */
int recorder_events(const recorder* r);
/* Drives the main queue until `r` has heard `count` callbacks; false on time-out. */
bool recorder_wait(recorder* r, int count);
bool recorder_wait_released(recorder* r);

#endif
