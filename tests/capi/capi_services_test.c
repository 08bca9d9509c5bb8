/* The service calls through the C interface, end to end against the loopback server:
 * requests, callbacks, every accessor of the results and what a result outlives. */
#define _GNU_SOURCE /* memmem */

#include <stdatomic.h>
#include <stdio.h>

#include "harness.h"

/* Every accessor of a location result, as one line. */
static const char* describe_location(const tk_location_res* result, char* text, size_t size) {
  const tk_location_detail* detail = tk_location_res_location(result);
  const tk_address_info* address = tk_location_detail_address(detail);
  const tk_address* district = tk_address_info_context_at(address, 1);
  const tk_place_info* place = tk_location_detail_place(detail);
  const tk_point* point = tk_position_point(tk_location_detail_position(detail));
  snprintf(text, size, "%s %s %lld | %s %zu %s %s %s %s %d | %s %s %.9g | %.9g %.9g", tk_location_res_id(result),
           tk_location_res_asset(result), (long long)tk_location_detail_timestamp(detail),
           tk_address_info_name(address), tk_address_info_context_count(address),
           tk_address_type(tk_address_info_context_at(address, 0)), tk_address_type(district),
           tk_address_name(district), tk_address_code(district), tk_address_info_context_at(address, 2) == NULL,
           tk_place_info_type(place), tk_place_info_name(place), tk_distance_info_line(tk_place_info_distance(place)),
           tk_point_latitude(point), tk_point_longitude(point));
  return text;
}

/* Every accessor of one item of a list, as one line. */
static const char* describe_place(const tk_geocode_list* list, size_t index, char* text, size_t size) {
  const tk_geocode_res* item = tk_geocode_list_at(list, index);
  const tk_category* category = tk_geocode_res_categories_at(item, 0);
  snprintf(text, size, "%s %s %s %s %s | %s %zu | %d %zu %s %s | %.9g %.9g", tk_geocode_res_id(item),
           tk_geocode_res_geoPoint(item), tk_geocode_res_type(item), tk_geocode_res_name(item),
           tk_geocode_res_code(item), tk_address_info_name(tk_geocode_res_address(item)),
           tk_address_info_context_count(tk_geocode_res_address(item)), tk_geocode_res_hasCategories(item),
           tk_geocode_res_categories_count(item), category ? tk_category_id(category) : "-",
           category ? tk_category_name(category) : "-", tk_geocode_res_relevance(item), tk_geocode_res_distance(item));
  return text;
}

void test_service_calls_deliver_results(void) {
  recorder r = {0};
  tk_client_location* client = ready_facade(recorder_delegate(&r));

  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude(client, 39.908, 116.397) == TK_OK);
  CHECK_HEARD(&r, "R");
  CHECK(test_server_last_request_is(g_server, "POST", TRACK_PATH, "access_key", "AK"));

  CHECK(tk_client_location_setPoiKeyWithPoikey(client, "PK") == TK_OK);
  CHECK(tk_client_location_getGeocCodeWithAddress_city(client, "天安门广场", "北京") == TK_OK);
  CHECK_HEARD(&r, "RG");
  CHECK(test_server_last_request_is(g_server, "GET", "/location/scenario/v1/geocode", "city", "北京"));

  CHECK(tk_client_location_poiKeySearchWithName_city_code_city_page_index_page_size(client, "公园", "110100", "北京", 2,
                                                                                    20) == TK_OK);
  CHECK_HEARD(&r, "RGP");
  CHECK(test_server_last_request_is(g_server, "GET", "/location/scenario/v1/placesearch", "page_index", "2"));
  CHECK(test_server_last_request_is(g_server, "GET", "/location/scenario/v1/placesearch", "access_key", "PK"));

  /* The nearby search keeps the facade until its answer: destroying it at once still
   * delivers; the results outlive the facade. */
  CHECK(tk_client_location_poiNearbySearchWithKeywords_location_radius_category_orderby_page_index_page_size(
            client, "公园", "116.397,39.908", 800, "park", "distance", 1, 10) == TK_OK);
  tk_client_location_destroy(client);
  CHECK_HEARD(&r, "RGPP");
  CHECK(test_server_last_request_is(g_server, "GET", "/location/scenario/v1/nearbysearch", "radius", "800"));
  CHECK(recorder_wait_released(&r) && r.releases == 1 && !r.off_main_thread);
  /* Retained in their callbacks, the results are read after them and after the facade. */
  char text[512];
  CHECK_STR(describe_location(r.kept_location, text, sizeof text),
            "R1 A1 1700000000000 | 北京市东城区 2 province district 东城区 110101 1 | poi 天安门 12.5 | 39.908 116.397");
  CHECK(tk_geocode_list_count(r.kept_list) == 2 && tk_geocode_list_at(r.kept_list, 2) == NULL);
  CHECK_STR(describe_place(r.kept_list, 0, text, sizeof text),
            "G1 116.397,39.908 poi 天安门 110101 | 东城区 0 | 0 0 - - | 0.9 12");
  CHECK_STR(describe_place(r.kept_list, 1, text, sizeof text),
            "G2 116.391,39.906 poi 中山公园 110101 | 东城区 0 | 1 1 park 公园 | 1 300.5");
  tk_location_res_release(r.kept_location);
  tk_geocode_list_release(r.kept_list);
}

/* The log handler may be called from other threads; each line arrives whole. */
static atomic_bool line_seen;
static char awaited_line[] = "逆地理编码成功，状态码: 200";

static void watch_log(const char* text, size_t length, void* line) {
  if (memmem(text, length, line, strlen(line)) != NULL) atomic_store(&line_seen, true);
}

static bool flag_set(void* flag) { return atomic_load((atomic_bool*)flag); }

/* A table without the member for a result drops it; the delivery has run once its log line
 * is out. */
void test_missing_optional_member_drops_result(void) {
  recorder r = {0};
  recorder_delegate(&r)->onReceivedReverseCodeWithTkLocation = NULL;
  tk_client_location* client = ready_facade(&r.delegate);
  tk_client_location_setLogHandler(watch_log, awaited_line);
  tk_client_location_setIsLogEnabled(true);
  CHECK(tk_client_location_isLogEnabled());
  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude(client, 39.908, 116.397) == TK_OK);
  CHECK(tk_main_queue_run_until(flag_set, &line_seen, 20.0));
  tk_client_location_setIsLogEnabled(false);
  CHECK(!tk_client_location_isLogEnabled());
  tk_client_location_setLogHandler(NULL, NULL);
  CHECK_STR(r.heard, "");
  tk_client_location_destroy(client);
}

/* A failure is heard typed, naming its call; a reverse lookup takes its point's datum; a
 * service address is refused when set, for the rule it breaks, and the old one stays. */
void test_typed_errors_datum_and_service_address(void) {
  recorder r = {0};
  tk_client_location* client = ready_facade(recorder_delegate(&r));
  const char* base = test_server_base_url(g_server);

  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude_datum(client, 39.9, 116.4, TK_DATUM_WGS84) == TK_OK);
  CHECK_HEARD(&r, "R");
  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude_datum(client, 39.9, 116.4, 3) ==
        TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude_datum(NULL, 39.9, 116.4, 0) == TK_ERROR_NULL_ARGUMENT);

  const struct {
    const char* url;
    const char* rule; /* NULL: accepted */
  } addresses[] = {{"ftp://lbs.example.com", "scheme"},
                   {"http://lbs.example.com", "loopback"},
                   {"lbs.example.com", "no scheme"},
                   {"https://lbs.example.com/?k=1", "query"},
                   {"https://lbs.example.com", NULL}};
  for (size_t i = 0; i < sizeof addresses / sizeof addresses[0]; ++i) {
    const char* problem = tk_service_url_problem(addresses[i].url);
    CHECK_ROW(addresses[i].rule ? problem != NULL && strstr(problem, addresses[i].rule) != NULL : problem == NULL,
              addresses[i].url);
    CHECK_ROW(tk_client_location_setServiceURL(client, addresses[i].url) ==
                  (addresses[i].rule ? TK_ERROR_INVALID_ARGUMENT : TK_OK),
              addresses[i].url);
  }
  CHECK_STR(tk_client_location_serviceURL(client), "https://lbs.example.com");

  /* A path the server does not know: an HTTP failure of the geocoding call. */
  char unknown[256];
  snprintf(unknown, sizeof unknown, "%s/nowhere", base);
  CHECK(tk_client_location_setServiceURL(client, unknown) == TK_OK);
  CHECK(tk_client_location_getGeocCodeWithAddress_city(client, "天安门广场", "北京") == TK_OK);
  CHECK_HEARD(&r, "RE");
  CHECK_STR(r.last_typed, "http/404/geocode/1");
  CHECK_STR(tk_error_domain_name(99), "unknown");

  /* GeoClue's options from C: a table too small for the first version is refused. */
  tk_geoclue_options options = tk_geoclue_options_make();
  options.desktopId = "tovik-test";
  options.desiredAccuracy = 100;
  CHECK(tk_location_services_use_geoclue(&options) == TK_OK);
  CHECK(tk_location_services_use_automatic("127.0.0.1", 1, &options, 0.2) == TK_OK);
  options.size = sizeof(size_t);
  CHECK(tk_location_services_use_geoclue(&options) == TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_location_services_use_geoclue(NULL) == TK_OK);
  CHECK(tk_location_services_use_default() == TK_OK);
  tk_client_location_destroy(client);
  tk_location_res_release(r.kept_location);
}
