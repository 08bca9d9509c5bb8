/* The C interface's test cases, run in order by capi_main.c. */
#ifndef TOVIK_TESTS_CAPI_SUITES_H
#define TOVIK_TESTS_CAPI_SUITES_H

#include "shim/test_server_c.h"

/* The loopback server every case may use; each case sets the answers it needs. */
extern test_server* g_server;

void test_transforms_match_reference_values(void);
void test_batch_transforms_equal_single_point(void);
void test_version_and_status_texts(void);
void test_main_queue_runs_posted_work_in_order(void);

void test_properties_round_trip(void);
void test_null_arguments_are_refused(void);
void test_preconditions_are_reported_synchronously(void);
void test_delegate_context_released_once(void);
void test_main_thread_entries_refuse_other_threads(void);
void test_single_fix_session(void);
void test_facade_destroyed_inside_callback(void);
void test_missing_purpose_string_fails_session(void);

void test_reverse_geocode_result_outlives_callback(void);
void test_searches_deliver_lists(void);
void test_service_error_reaches_error_callback(void);
void test_missing_optional_member_drops_result(void);

#endif
