/* The C interface's end-to-end tests, written in C against tovik_c.h only (plus the
 * loopback server). Runs every case, or the cases named on the command line. */
#include <stdio.h>
#include <string.h>

#include <tovik/tovik_c.h>

#include "c_check.h"
#include "suites.h"

int c_check_failures = 0;
test_server* g_server = NULL;

typedef struct test_case {
  const char* name;
  void (*run)(void);
} test_case;

#define CASE(fn) {#fn, fn}

static const test_case kCases[] = {
    CASE(test_transforms_match_reference_values),
    CASE(test_batch_transforms_equal_single_point),
    CASE(test_version_and_status_texts),
    CASE(test_main_queue_runs_posted_work_in_order),
    CASE(test_properties_round_trip),
    CASE(test_null_arguments_are_refused),
    CASE(test_preconditions_are_reported_synchronously),
    CASE(test_delegate_context_released_once),
    CASE(test_main_thread_entries_refuse_other_threads),
    CASE(test_single_fix_session),
    CASE(test_facade_destroyed_inside_callback),
    CASE(test_missing_purpose_string_fails_session),
    CASE(test_reverse_geocode_result_outlives_callback),
    CASE(test_searches_deliver_lists),
    CASE(test_service_error_reaches_error_callback),
    CASE(test_missing_optional_member_drops_result),
};

static int wanted(const char* name, int argc, char** argv) {
  if (argc < 2) {
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], name) == 0) {
      return 1;
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  g_server = test_server_start();
  if (g_server == NULL) {
    fprintf(stderr, "could not start the loopback server\n");
    return 1;
  }
  int ran = 0;
  int failed_cases = 0;
  for (size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    if (!wanted(kCases[i].name, argc, argv)) {
      continue;
    }
    const int before = c_check_failures;
    kCases[i].run();
    ++ran;
    const int failed = c_check_failures != before;
    failed_cases += failed;
    printf("[%s] %s\n", failed ? "FAILED" : "    OK", kCases[i].name);
  }
  test_server_stop(g_server);
  printf("%d of %d cases passed\n", ran - failed_cases, ran);
  return ran > 0 && failed_cases == 0 ? 0 : 1;
}
