/* The facade through the C interface: properties, argument checks, the delegate's
 * lifetime, preconditions and location sessions. */
#include <math.h>
#include <stdbool.h>
#include <string.h>
#include <pthread.h>

#include <tovik/tovik_c.h>

#include "c_check.h"
#include "recorder.h"
#include "suites.h"

#define PURPOSE_KEY "NSLocationWhenInUseUsageDescription"

static bool starts_with(const char* text, const char* prefix) {
  return text != NULL && strncmp(text, prefix, strlen(prefix)) == 0;
}

/* A facade with consent and key "AK", talking to the loopback server. */
static tk_client_location* ready_facade(recorder* r) {
  const tk_location_delegate delegate = recorder_delegate(r);
  tk_client_location* client = tk_client_location_create(&delegate);
  CHECK(client != NULL);
  CHECK(tk_client_location_setAgreePrivacyWithIsAgree(client, true) == TK_OK);
  CHECK(tk_client_location_initKeyWithAccesskey(client, "AK") == TK_OK);
  CHECK(tk_client_location_setServiceURL(client, test_server_base_url(g_server)) == TK_OK);
  return client;
}

void test_properties_round_trip(void) {
  tk_client_location* client = tk_client_location_create(NULL);
  CHECK(tk_client_location_accesskey(client) == NULL);
  CHECK(tk_client_location_poiKey(client) == NULL);
  CHECK(tk_client_location_interval(client) == 1.0);
  CHECK(tk_client_location_isLocateOnce(client));
  CHECK(!tk_client_location_isFastLocation(client));
  CHECK(!tk_client_location_isAgree(client));
  CHECK(!tk_client_location_isLocating(client));
  CHECK(starts_with(tk_client_location_serviceURL(client), "http"));
  tk_location_delegate none = {.size = TK_LOCATION_DELEGATE_SIZE};
  CHECK(!tk_client_location_callDelegate(client, &none));

  CHECK(tk_client_location_initKeyWithAccesskey(client, "K1") == TK_OK);
  CHECK_STR(tk_client_location_accesskey(client), "K1");
  CHECK_STR(tk_client_location_poiKey(client), "K1");
  CHECK(tk_client_location_setPoiKeyWithPoikey(client, "P1") == TK_OK);
  CHECK_STR(tk_client_location_accesskey(client), "K1");
  CHECK_STR(tk_client_location_poiKey(client), "P1");
  CHECK(tk_client_location_setAccesskey(client, NULL) == TK_OK);
  CHECK(tk_client_location_accesskey(client) == NULL);
  CHECK(tk_client_location_setPoiKey(client, "") == TK_OK);
  CHECK_STR(tk_client_location_poiKey(client), "");

  CHECK(tk_client_location_setInterval(client, 5.0) == TK_OK);
  CHECK(tk_client_location_interval(client) == 5.0);
  CHECK(tk_client_location_setIsLocateOnce(client, false) == TK_OK);
  CHECK(!tk_client_location_isLocateOnce(client));
  CHECK(tk_client_location_setIsFastLocation(client, true) == TK_OK);
  CHECK(tk_client_location_isFastLocation(client));
  CHECK(tk_client_location_setAgreePrivacyWithIsAgree(client, true) == TK_OK);
  CHECK(tk_client_location_isAgree(client));
  CHECK(tk_client_location_setIsAgree(client, false) == TK_OK);
  CHECK(!tk_client_location_isAgree(client));
  CHECK(tk_client_location_setServiceURL(client, "http://127.0.0.1:9") == TK_OK);
  CHECK_STR(tk_client_location_serviceURL(client), "http://127.0.0.1:9");

  recorder r = {0};
  const tk_location_delegate delegate = recorder_delegate(&r);
  tk_location_delegate unsized = delegate;
  unsized.size = 0;
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, &unsized) == TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, &delegate) == TK_OK);
  tk_location_delegate copy = {.size = 1};
  CHECK(!tk_client_location_callDelegate(client, &copy));
  copy.size = TK_LOCATION_DELEGATE_SIZE;
  CHECK(tk_client_location_callDelegate(client, &copy));
  CHECK(copy.context == &r && copy.onLocationErrorWithMsg == delegate.onLocationErrorWithMsg &&
        copy.releaseContext == delegate.releaseContext);

  const int64_t stamp = tk_client_location_milliStamp(client);
  CHECK(stamp > INT64_C(1600000000000));
  const tk_location fix = tk_location_make(39.9, 116.4);
  CHECK(fix.latitude == 39.9 && fix.longitude == 116.4);
  CHECK(fix.verticalAccuracy < 0 && fix.speed < 0 && fix.course < 0);
  CHECK(fix.timestamp > INT64_C(1600000000000));

  const bool logging = tk_client_location_isLogEnabled();
  tk_client_location_setIsLogEnabled(!logging);
  CHECK(tk_client_location_isLogEnabled() == !logging);
  tk_client_location_setIsLogEnabled(logging);
  tk_client_location_destroy(client);
  CHECK(r.releases == 1);
}

void test_null_arguments_are_refused(void) {
  recorder r = {0};
  tk_client_location* client = ready_facade(&r);
  const tk_location fix = tk_location_make(39.9, 116.4);
  const struct {
    const char* call;
    tk_status status;
  } rows[] = {
      {"initKey(NULL client)", tk_client_location_initKeyWithAccesskey(NULL, "K")},
      {"initKey(NULL key)", tk_client_location_initKeyWithAccesskey(client, NULL)},
      {"setPoiKey(NULL key)", tk_client_location_setPoiKeyWithPoikey(client, NULL)},
      {"setAgreePrivacy", tk_client_location_setAgreePrivacyWithIsAgree(NULL, true)},
      {"setLocationDelegate", tk_client_location_setLocationDelegateWith_delegate(NULL, NULL)},
      {"setServiceURL(NULL url)", tk_client_location_setServiceURL(client, NULL)},
      {"setInterval", tk_client_location_setInterval(NULL, 2.0)},
      {"startLocation", tk_client_location_startLocation(NULL)},
      {"startFastLocation", tk_client_location_startFastLocation(NULL)},
      {"stopLocation", tk_client_location_stopLocation(NULL)},
      {"getTrackLocation(NULL fix)", tk_client_location_getTrackLocationWithLocation(client, NULL)},
      {"getTrackLocation(NULL client)", tk_client_location_getTrackLocationWithLocation(NULL, &fix)},
      {"getReverseCode", tk_client_location_getReverseCodeWithLatitude_longitude(NULL, 39.9, 116.4)},
      {"getGeocCode(NULL city)", tk_client_location_getGeocCodeWithAddress_city(client, "天安门", NULL)},
      {"poiKeySearch(NULL city_code)",
       tk_client_location_poiKeySearchWithName_city_code_city_page_index_page_size(client, "公园", NULL, "北京", 1,
                                                                                   10)},
      {"poiNearbySearch(NULL orderby)",
       tk_client_location_poiNearbySearchWithKeywords_location_radius_category_orderby_page_index_page_size(
           client, "公园", "116.4,39.9", 500, "", NULL, 1, 10)},
      {"use_nmea_replay", tk_location_services_use_nmea_replay(NULL, 1.0)},
      {"pushLocation", tk_scripted_location_provider_pushLocation(NULL, &fix)},
      {"pushError", tk_scripted_location_provider_pushError(NULL, "D", 1, "x")},
      {"setAuthorizationStatus", tk_scripted_location_provider_setAuthorizationStatus(NULL, 3)},
      {"bundle string(NULL key)", tk_bundle_main_setObject_string(NULL, "x")},
      {"bundle string(NULL value)", tk_bundle_main_setObject_string("k", NULL)},
      {"bundle strings(NULL list)", tk_bundle_main_setObject_strings("k", NULL, 2)},
      {"bundle number", tk_bundle_main_setObject_number(NULL, 1.0)},
      {"bundle remove", tk_bundle_main_removeObject(NULL)},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    if (rows[i].status != TK_ERROR_NULL_ARGUMENT) {
      fprintf(stderr, "%s returned %d, expected TK_ERROR_NULL_ARGUMENT\n", rows[i].call, (int)rows[i].status);
      ++c_check_failures;
    }
  }
  /* None of the refused calls reached the kit: no callback, no request. */
  CHECK(recorder_events(&r) == 0);
  CHECK_STR(tk_client_location_accesskey(client), "AK");

  CHECK(tk_client_location_accesskey(NULL) == NULL);
  CHECK(tk_client_location_serviceURL(NULL) == NULL);
  CHECK(isnan(tk_client_location_interval(NULL)));
  CHECK(!tk_client_location_isAgree(NULL));
  CHECK(tk_client_location_milliStamp(NULL) == 0);
  CHECK(!tk_client_location_callDelegate(client, NULL));
  CHECK(tk_location_res_retain(NULL) == NULL);
  CHECK(tk_location_res_id(NULL) == NULL);
  CHECK(tk_location_detail_address(NULL) == NULL);
  CHECK(isnan(tk_point_latitude(NULL)));
  CHECK(tk_geocode_list_count(NULL) == 0);
  CHECK(tk_geocode_list_at(NULL, 0) == NULL);
  CHECK(!tk_geocode_res_hasCategories(NULL));
  tk_location_res_release(NULL);
  tk_geocode_list_release(NULL);
  tk_scripted_location_provider_release(NULL);
  tk_client_location_destroy(NULL);

  tk_scripted_location_provider* provider = tk_location_services_use_scripted();
  CHECK(tk_scripted_location_provider_setAuthorizationStatus(provider, (tk_authorization_status)99) ==
        TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_scripted_location_provider_setAuthorizationStatus(provider, TK_AUTHORIZATION_DENIED) == TK_OK);
  CHECK(tk_location_services_authorizationStatus() == TK_AUTHORIZATION_DENIED);
  tk_scripted_location_provider_release(provider);
  CHECK(tk_location_services_use_default() == TK_OK);
  tk_client_location_destroy(client);
}

void test_preconditions_are_reported_synchronously(void) {
  recorder r = {0};
  const tk_location_delegate delegate = recorder_delegate(&r);
  tk_client_location* client = tk_client_location_create(&delegate);
  const size_t requests = test_server_request_count(g_server);

  /* Both messages arrive before the call returns, without driving the queue. */
  CHECK(tk_client_location_getReverseCodeWithLatitude_longitude(client, 39.9, 116.4) == TK_OK);
  CHECK(r.errors == 1);
  CHECK_STR(r.last_error, "您未同意隐私政策");
  CHECK(tk_client_location_setAgreePrivacyWithIsAgree(client, true) == TK_OK);
  CHECK(tk_client_location_startLocation(client) == TK_OK);
  CHECK(r.errors == 2);
  CHECK_STR(r.last_error, "您未配置 Appkey");
  CHECK(!tk_client_location_isLocating(client));
  CHECK(test_server_request_count(g_server) == requests);

  /* No delegate: the checks run, nothing is sent anywhere. */
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, NULL) == TK_OK);
  CHECK(tk_client_location_getGeocCodeWithAddress_city(client, "天安门", "北京") == TK_OK);
  CHECK(r.errors == 2);
  tk_client_location_destroy(client);
}

void test_delegate_context_released_once(void) {
  recorder first = {0};
  recorder second = {0};
  const tk_location_delegate a = recorder_delegate(&first);
  const tk_location_delegate b = recorder_delegate(&second);
  tk_client_location* client = tk_client_location_create(&a);
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, &b) == TK_OK);
  CHECK(first.releases == 1 && second.releases == 0);
  CHECK(tk_client_location_setCallDelegate(client, NULL) == TK_OK);
  CHECK(second.releases == 1);
  tk_client_location_destroy(client);
  CHECK(first.releases == 1 && second.releases == 1);

  client = tk_client_location_create(&b);
  tk_client_location_destroy(client);
  CHECK(second.releases == 2);

  /* One context reaching the kit several times is released once, after the last delegate
   * holding it has gone. */
  recorder twice = {0};
  const tk_location_delegate t = recorder_delegate(&twice);
  client = tk_client_location_create(&t);
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, &t) == TK_OK);
  CHECK(twice.releases == 0);
  tk_client_location_destroy(client);
  CHECK(twice.releases == 1);

  recorder read_back = {0};
  const tk_location_delegate rb = recorder_delegate(&read_back);
  client = tk_client_location_create(&rb);
  tk_location_delegate copy = {.size = TK_LOCATION_DELEGATE_SIZE};
  CHECK(tk_client_location_callDelegate(client, &copy));
  CHECK(tk_client_location_setCallDelegate(client, &copy) == TK_OK);
  CHECK(read_back.releases == 0);
  tk_client_location_destroy(client);
  CHECK(read_back.releases == 1);

  recorder two = {0};
  const tk_location_delegate tw = recorder_delegate(&two);
  client = tk_client_location_create(&tw);
  tk_client_location* other = tk_client_location_create(&tw);
  tk_client_location_destroy(client);
  CHECK(two.releases == 0);
  /* The other facade's delegate still reaches the context. */
  CHECK(tk_client_location_startLocation(other) == TK_OK);
  CHECK(two.errors == 1);
  tk_client_location_destroy(other);
  CHECK(two.releases == 1);
  CHECK(!first.off_main_thread && !twice.off_main_thread && !two.off_main_thread);
}

typedef struct other_thread_calls {
  tk_client_location* client;
  tk_status start;
  tk_status init_key;
  tk_status push;
  const char* key;
  tk_client_location* created;
  double distance;
  tk_status posted;
} other_thread_calls;

static void nothing(void* context) { (void)context; }

/* pthreads rather than C11 threads: glibc's thrd_create bypasses ThreadSanitizer. */
static void* call_from_other_thread(void* arg) {
  other_thread_calls* calls = arg;
  calls->start = tk_client_location_startLocation(calls->client);
  calls->init_key = tk_client_location_initKeyWithAccesskey(calls->client, "K2");
  const tk_location fix = tk_location_make(39.9, 116.4);
  calls->key = tk_client_location_accesskey(calls->client);
  calls->created = tk_client_location_create(NULL);
  calls->push = tk_client_location_getTrackLocationWithLocation(calls->client, &fix);
  calls->distance = tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2(0.0, 0.0, 0.0, 1.0);
  calls->posted = tk_main_queue_async(nothing, NULL);
  /* Handed to the main thread, which destroys it. */
  tk_client_location_destroy(calls->client);
  return NULL;
}

void test_main_thread_entries_refuse_other_threads(void) {
  recorder r = {0};
  tk_client_location* client = ready_facade(&r);
  /* Driving the queue makes this thread the main thread. */
  tk_main_queue_poll();
  const size_t requests = test_server_request_count(g_server);
  other_thread_calls calls = {.client = client};
  pthread_t thread;
  CHECK(pthread_create(&thread, NULL, call_from_other_thread, &calls) == 0);
  CHECK(pthread_join(thread, NULL) == 0);

  CHECK(calls.start == TK_ERROR_WRONG_THREAD);
  CHECK(calls.init_key == TK_ERROR_WRONG_THREAD);
  CHECK(calls.push == TK_ERROR_WRONG_THREAD);
  CHECK(calls.key == NULL);
  CHECK(calls.created == NULL);
  CHECK_NEAR(calls.distance, 111194.996, 1e-3);
  CHECK(calls.posted == TK_OK);
  CHECK(recorder_events(&r) == 0);
  CHECK(r.releases == 0);
  CHECK(test_server_request_count(g_server) == requests);

  CHECK(recorder_wait_released(&r));
  CHECK(r.releases == 1 && !r.off_main_thread);
  CHECK(recorder_events(&r) == 0);
}

/* What a handled fix at (39.9042, 116.4074) yields: the service's answer when the machine
 * is online, the local GCJ-02 result when it is offline. */
static void check_session_result(const recorder* r, size_t requests_before) {
  CHECK(r->kept_location != NULL);
  const tk_location_detail* detail = tk_location_res_location(r->kept_location);
  const tk_point* point = tk_position_point(tk_location_detail_position(detail));
  if (test_server_request_count(g_server) > requests_before) {
    CHECK(test_server_last_request_is(g_server, "POST", TRACK_PATH, "access_key", "AK"));
    CHECK_STR(tk_location_res_id(r->kept_location), "R1");
  } else {
    const tk_coordinate gcj = tk_orb_coor_transform_transformFromWGSToGCJ((tk_coordinate){39.9042, 116.4074});
    CHECK_STR(tk_location_res_id(r->kept_location), "");
    CHECK(tk_point_latitude(point) == gcj.latitude && tk_point_longitude(point) == gcj.longitude);
  }
}

void test_single_fix_session(void) {
  test_server_respond(g_server, "POST", TRACK_PATH, 200, LOCATION_JSON);
  CHECK(tk_bundle_main_setObject_string(PURPOSE_KEY, "Shows where you are") == TK_OK);
  tk_scripted_location_provider* provider = tk_location_services_use_scripted();
  recorder r = {0};
  tk_client_location* client = ready_facade(&r);
  const size_t requests = test_server_request_count(g_server);

  CHECK(tk_client_location_startLocation(client) == TK_OK);
  CHECK(tk_client_location_isLocating(client));
  CHECK(tk_scripted_location_provider_isUpdating(provider));
  const tk_location fix = tk_location_make(39.9042, 116.4074);
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  CHECK(recorder_wait(&r, 1));
  CHECK(r.locations == 1 && r.errors == 0);
  CHECK(!r.off_main_thread);
  CHECK(r.refused_nested_runs == 1);
  check_session_result(&r, requests);
  /* One fix, and the session is over. */
  CHECK(!tk_client_location_isLocating(client));
  CHECK(!tk_scripted_location_provider_isUpdating(provider));

  recorder_clear(&r);
  tk_client_location_destroy(client);
  tk_scripted_location_provider_release(provider);
  tk_location_services_use_default();
}

void test_facade_destroyed_inside_callback(void) {
  test_server_respond(g_server, "POST", TRACK_PATH, 200, LOCATION_JSON);
  CHECK(tk_bundle_main_setObject_string(PURPOSE_KEY, "Shows where you are") == TK_OK);
  tk_scripted_location_provider* provider = tk_location_services_use_scripted();
  recorder r = {0};
  tk_client_location* client = ready_facade(&r);
  CHECK(tk_client_location_setIsLocateOnce(client, false) == TK_OK);
  r.destroy_in_callback = client;

  CHECK(tk_client_location_startLocation(client) == TK_OK);
  const tk_location fix = tk_location_make(39.9042, 116.4074);
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  CHECK(recorder_wait(&r, 1));
  /* The callback's destroy ended the continuous session and let go of the delegate. */
  CHECK(r.destroy_in_callback == NULL);
  CHECK(r.releases == 1);
  CHECK(!tk_scripted_location_provider_isUpdating(provider));
  /* The result handed to the callback outlives the facade. */
  CHECK(tk_location_res_location(r.kept_location) != NULL);

  recorder_clear(&r);
  tk_scripted_location_provider_release(provider);
  tk_location_services_use_default();
}

void test_missing_purpose_string_fails_session(void) {
  CHECK(tk_bundle_main_removeObject(PURPOSE_KEY) == TK_OK);
  tk_scripted_location_provider* provider = tk_location_services_use_scripted();
  recorder r = {0};
  tk_client_location* client = ready_facade(&r);

  CHECK(tk_client_location_startFastLocation(client) == TK_OK);
  CHECK(tk_client_location_isLocateOnce(client) && tk_client_location_isFastLocation(client));
  CHECK(r.errors == 1);
  CHECK(starts_with(r.last_error, "定位失败："));
  CHECK(!tk_client_location_isLocating(client));

  /* With the purpose string the same facade locates again. */
  const char* modes[] = {"location"};
  CHECK(tk_bundle_main_setObject_strings("UIBackgroundModes", modes, 1) == TK_OK);
  CHECK(tk_bundle_main_setObject_string(PURPOSE_KEY, "Shows where you are") == TK_OK);
  CHECK(tk_client_location_startLocation(client) == TK_OK);
  CHECK(tk_client_location_isLocating(client));
  CHECK(tk_client_location_stopLocation(client) == TK_OK);
  CHECK(!tk_client_location_isLocating(client));

  CHECK(tk_bundle_main_removeObject("UIBackgroundModes") == TK_OK);
  tk_client_location_destroy(client);
  tk_scripted_location_provider_release(provider);
  tk_location_services_use_default();
}
