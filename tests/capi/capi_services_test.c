/* The five service calls through the C interface, end to end against the loopback
 * server: requests, callbacks and every accessor of the results. */
#define _POSIX_C_SOURCE 200809L

#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <pthread.h>

#include <tovik/tovik_c.h>

#include "c_check.h"
#include "recorder.h"
#include "suites.h"

static tk_client_location* ready_facade(const tk_location_delegate* delegate) {
  tk_client_location* client = tk_client_location_create(delegate);
  CHECK(tk_client_location_setAgreePrivacyWithIsAgree(client, true) == TK_OK);
  CHECK(tk_client_location_initKeyWithAccesskey(client, "AK") == TK_OK);
  CHECK(tk_client_location_setServiceURL(client, test_server_base_url(g_server)) == TK_OK);
  return client;
}

static void check_location_json_result(const tk_location_res* result) {
  CHECK_STR(tk_location_res_id(result), "R1");
  CHECK_STR(tk_location_res_asset(result), "A1");
  const tk_location_detail* detail = tk_location_res_location(result);
  CHECK(tk_location_detail_timestamp(detail) == INT64_C(1700000000000));

  const tk_address_info* address = tk_location_detail_address(detail);
  CHECK_STR(tk_address_info_name(address), "北京市东城区");
  CHECK(tk_address_info_context_count(address) == 2);
  CHECK_STR(tk_address_type(tk_address_info_context_at(address, 0)), "province");
  const tk_address* district = tk_address_info_context_at(address, 1);
  CHECK_STR(tk_address_type(district), "district");
  CHECK_STR(tk_address_name(district), "东城区");
  CHECK_STR(tk_address_code(district), "110101");
  CHECK(tk_address_info_context_at(address, 2) == NULL);

  const tk_place_info* place = tk_location_detail_place(detail);
  CHECK_STR(tk_place_info_type(place), "poi");
  CHECK_STR(tk_place_info_name(place), "天安门");
  CHECK(tk_distance_info_line(tk_place_info_distance(place)) == 12.5);

  const tk_point* point = tk_position_point(tk_location_detail_position(detail));
  CHECK(tk_point_latitude(point) == 39.908);
  CHECK(tk_point_longitude(point) == 116.397);
}

void test_reverse_geocode_result_outlives_callback(void) {
  test_server_respond(g_server, "POST", TRACK_PATH, 200, LOCATION_JSON);
  recorder r = {0};
  const tk_location_delegate delegate = recorder_delegate(&r);
  tk_client_location* client = ready_facade(&delegate);

  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude(client, 39.908, 116.397) == TK_OK);
  CHECK(recorder_wait(&r, 1));
  CHECK(r.reverses == 1 && r.errors == 0 && r.locations == 0);
  CHECK(!r.off_main_thread);
  CHECK(test_server_last_request_is(g_server, "POST", TRACK_PATH, "access_key", "AK"));

  /* Retained in the callback, the result is read after it, and after the facade is gone. */
  check_location_json_result(r.kept_location);
  tk_client_location_destroy(client);
  check_location_json_result(r.kept_location);
  recorder_clear(&r);
}

static void check_two_places(const tk_geocode_list* list) {
  CHECK(tk_geocode_list_count(list) == 2);
  const tk_geocode_res* first = tk_geocode_list_at(list, 0);
  CHECK_STR(tk_geocode_res_id(first), "G1");
  CHECK_STR(tk_geocode_res_geoPoint(first), "116.397,39.908");
  CHECK_STR(tk_geocode_res_type(first), "poi");
  CHECK_STR(tk_geocode_res_name(first), "天安门");
  CHECK_STR(tk_geocode_res_code(first), "110101");
  CHECK(!tk_geocode_res_hasCategories(first));
  CHECK(tk_geocode_res_categories_count(first) == 0);
  CHECK(tk_geocode_res_categories_at(first, 0) == NULL);
  CHECK(tk_geocode_res_relevance(first) == 0.9);
  CHECK(tk_geocode_res_distance(first) == 12.0);
  CHECK_STR(tk_address_info_name(tk_geocode_res_address(first)), "东城区");
  CHECK(tk_address_info_context_count(tk_geocode_res_address(first)) == 0);

  const tk_geocode_res* second = tk_geocode_list_at(list, 1);
  CHECK(tk_geocode_res_hasCategories(second));
  CHECK(tk_geocode_res_categories_count(second) == 1);
  CHECK_STR(tk_category_id(tk_geocode_res_categories_at(second, 0)), "park");
  CHECK_STR(tk_category_name(tk_geocode_res_categories_at(second, 0)), "公园");
  CHECK(tk_geocode_res_distance(second) == 300.5);
  CHECK(tk_geocode_list_at(list, 2) == NULL);
}

void test_searches_deliver_lists(void) {
  test_server_respond(g_server, "GET", GEOCODE_PATH, 200, TWO_PLACES_JSON);
  test_server_respond(g_server, "GET", PLACE_SEARCH_PATH, 200, TWO_PLACES_JSON);
  test_server_respond(g_server, "GET", NEARBY_SEARCH_PATH, 200, TWO_PLACES_JSON);
  recorder r = {0};
  const tk_location_delegate delegate = recorder_delegate(&r);
  tk_client_location* client = ready_facade(&delegate);
  CHECK(tk_client_location_setPoiKeyWithPoikey(client, "PK") == TK_OK);

  CHECK(tk_client_location_getGeocCodeWithAddress_city(client, "天安门广场", "北京") == TK_OK);
  CHECK(recorder_wait(&r, 1));
  CHECK(r.geocodes == 1);
  CHECK(test_server_last_request_is(g_server, "GET", GEOCODE_PATH, "city", "北京"));
  check_two_places(r.kept_list);

  CHECK(tk_client_location_poiKeySearchWithName_city_code_city_page_index_page_size(client, "公园", "110100", "北京",
                                                                                      2, 20) == TK_OK);
  CHECK(recorder_wait(&r, 2));
  CHECK(r.pois == 1);
  CHECK(test_server_last_request_is(g_server, "GET", PLACE_SEARCH_PATH, "page_index", "2"));
  CHECK(test_server_last_request_is(g_server, "GET", PLACE_SEARCH_PATH, "access_key", "PK"));
  check_two_places(r.kept_list);

  /* The nearby search keeps the facade until its answer: destroying it at once still
   * delivers. */
  CHECK(tk_client_location_poiNearbySearchWithKeywords_location_radius_category_orderby_page_index_page_size(
            client, "公园", "116.397,39.908", 800, "park", "distance", 1, 10) == TK_OK);
  tk_client_location_destroy(client);
  CHECK(recorder_wait(&r, 3));
  CHECK(r.pois == 2 && r.errors == 0);
  CHECK(test_server_last_request_is(g_server, "GET", NEARBY_SEARCH_PATH, "radius", "800"));
  check_two_places(r.kept_list);
  CHECK(recorder_wait_released(&r));
  CHECK(r.releases == 1);
  recorder_clear(&r);
}

void test_service_error_reaches_error_callback(void) {
  test_server_respond(g_server, "POST", TRACK_PATH, 500, "");
  test_server_respond(g_server, "GET", GEOCODE_PATH, 200, "{\"not\": \"a list\"}");
  recorder r = {0};
  const tk_location_delegate delegate = recorder_delegate(&r);
  tk_client_location* client = ready_facade(&delegate);

  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude(client, 39.9, 116.4) == TK_OK);
  CHECK(recorder_wait(&r, 1));
  CHECK(r.errors == 1 && r.reverses == 0);
  CHECK(strstr(r.last_error, "500") != NULL);

  CHECK(tk_client_location_getGeocCodeWithAddress_city(client, "天安门", "北京") == TK_OK);
  CHECK(recorder_wait(&r, 2));
  CHECK(r.errors == 2 && r.geocodes == 0);
  tk_client_location_destroy(client);
}

/* The kit's log, collected through the log handler (it may be called from other threads). */
typedef struct log_capture {
  pthread_mutex_t mutex;
  char text[8192];
  size_t length;
} log_capture;

static void log_collect(const char* text, size_t length, void* context) {
  log_capture* capture = context;
  pthread_mutex_lock(&capture->mutex);
  const size_t room = sizeof capture->text - 1 - capture->length;
  const size_t taken = length < room ? length : room;
  memcpy(capture->text + capture->length, text, taken);
  capture->length += taken;
  capture->text[capture->length] = '\0';
  pthread_mutex_unlock(&capture->mutex);
}

static bool log_start(log_capture* capture) {
  capture->length = 0;
  capture->text[0] = '\0';
  if (pthread_mutex_init(&capture->mutex, NULL) != 0) {
    return false;
  }
  tk_client_location_setLogHandler(log_collect, capture);
  tk_client_location_setIsLogEnabled(true);
  return true;
}

static bool log_contains(log_capture* capture, const char* line) {
  pthread_mutex_lock(&capture->mutex);
  const bool found = strstr(capture->text, line) != NULL;
  pthread_mutex_unlock(&capture->mutex);
  return found;
}

static void log_stop(log_capture* capture) {
  tk_client_location_setIsLogEnabled(false);
  tk_client_location_setLogHandler(NULL, NULL);
  pthread_mutex_destroy(&capture->mutex);
}

typedef struct log_wait {
  log_capture* capture;
  const char* line;
} log_wait;

static bool logged(void* context) {
  const log_wait* wait = context;
  return log_contains(wait->capture, wait->line);
}

void test_missing_optional_member_drops_result(void) {
  test_server_respond(g_server, "POST", TRACK_PATH, 200, LOCATION_JSON);
  recorder r = {0};
  tk_location_delegate required_only = recorder_delegate(&r);
  required_only.onReceivedReverseCodeWithTkLocation = NULL;
  required_only.onReceivedGeocodeWithResult = NULL;
  tk_client_location* client = ready_facade(&required_only);

  log_capture capture;
  CHECK(log_start(&capture));
  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude(client, 39.908, 116.397) == TK_OK);
  /* The delivery has run once its log line is out; nothing reached the delegate. */
  log_wait wait = {&capture, "逆地理编码成功，状态码: 200"};
  const bool delivered = tk_main_queue_run_until(logged, &wait, C_CHECK_TIMEOUT_SECONDS);
  log_stop(&capture);
  CHECK(delivered);
  CHECK(recorder_events(&r) == 0);
  tk_client_location_destroy(client);
  CHECK(r.releases == 1);
}
