/* The facade through the C interface: properties, argument checks, the delegate's
 * lifetime, threads and location sessions. */
#include <math.h>
#include <stddef.h>
#include <pthread.h>

#include "harness.h"

#define CHECK_NULL(call) CHECK((call) == TK_ERROR_NULL_ARGUMENT)

void test_properties_and_arguments(void) {
  tk_client_location* client = tk_client_location_create(NULL);
  CHECK(tk_client_location_setIsLocateOnce(client, false) == TK_OK && !tk_client_location_isLocateOnce(client));
  CHECK(tk_client_location_setIsLocateOnce(client, true) == TK_OK && tk_client_location_isLocateOnce(client));
  CHECK(tk_client_location_setIsFastLocation(client, true) == TK_OK && tk_client_location_isFastLocation(client));
  CHECK(tk_client_location_setIsFastLocation(client, false) == TK_OK && !tk_client_location_isFastLocation(client));
  CHECK(tk_client_location_setIsAgree(client, true) == TK_OK && tk_client_location_isAgree(client));
  CHECK(tk_client_location_setAgreePrivacyWithIsAgree(client, false) == TK_OK && !tk_client_location_isAgree(client));
  /* An optional key reads as NULL until set and once set to NULL; "" is a key. */
  CHECK(tk_client_location_accesskey(client) == NULL);
  CHECK(tk_client_location_initKeyWithAccesskey(client, "K1") == TK_OK);
  CHECK_STR(tk_client_location_poiKey(client), "K1");
  CHECK(tk_client_location_setPoiKeyWithPoikey(client, "P1") == TK_OK);
  CHECK_STR(tk_client_location_accesskey(client), "K1");
  CHECK_STR(tk_client_location_poiKey(client), "P1");
  CHECK(tk_client_location_setAccesskey(client, NULL) == TK_OK && tk_client_location_accesskey(client) == NULL);
  CHECK(tk_client_location_setPoiKey(client, "") == TK_OK);
  CHECK_STR(tk_client_location_poiKey(client), "");
  CHECK(tk_client_location_setServiceURL(client, "http://127.0.0.1:9") == TK_OK);
  CHECK_STR(tk_client_location_serviceURL(client), "http://127.0.0.1:9");
  CHECK(tk_client_location_setInterval(client, 5.0) == TK_OK && tk_client_location_interval(client) == 5.0);
  const tk_location fix = tk_location_make(39.9, 116.4);
  CHECK(fix.latitude == 39.9 && fix.longitude == 116.4 && tk_client_location_milliStamp(client) >= fix.timestamp);
  CHECK(fix.verticalAccuracy < 0 && fix.speed < 0 && fix.course < 0 && fix.timestamp > INT64_C(1600000000000));

  /* NULL handles and required arguments are refused and change nothing. */
  recorder r = {0};
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, recorder_delegate(&r)) == TK_OK);
  CHECK_NULL(tk_client_location_initKeyWithAccesskey(NULL, "K"));
  CHECK_NULL(tk_client_location_initKeyWithAccesskey(client, NULL));
  CHECK_NULL(tk_client_location_setPoiKeyWithPoikey(client, NULL));
  CHECK_NULL(tk_client_location_setLocationDelegateWith_delegate(NULL, NULL));
  CHECK_NULL(tk_client_location_setServiceURL(client, NULL));
  CHECK_NULL(tk_client_location_startLocation(NULL));
  CHECK_NULL(tk_client_location_getTrackLocationWithLocation(client, NULL));
  CHECK_NULL(tk_client_location_getTrackLocationWithLocation(NULL, &fix));
  CHECK_NULL(tk_client_location_getGeocCodeWithAddress_city(client, "天安门", NULL));
  CHECK_NULL(
      tk_client_location_poiKeySearchWithName_city_code_city_page_index_page_size(client, "公园", NULL, "北京", 1, 10));
  CHECK_NULL(tk_client_location_poiNearbySearchWithKeywords_location_radius_category_orderby_page_index_page_size(
      client, "公园", "116.4,39.9", 500, "", NULL, 1, 10));
  CHECK_NULL(tk_location_services_use_nmea_replay(NULL, 1.0));
  CHECK_NULL(tk_scripted_location_provider_pushLocation(NULL, &fix));
  CHECK_NULL(tk_scripted_location_provider_pushError(NULL, "D", 1, "x"));
  CHECK_NULL(tk_scripted_location_provider_setAuthorizationStatus(NULL, 3));
  CHECK_NULL(tk_bundle_main_setObject_string(NULL, "x"));
  CHECK_NULL(tk_bundle_main_setObject_string("k", NULL));
  CHECK_NULL(tk_bundle_main_setObject_strings("k", NULL, 2));
  CHECK_NULL(tk_bundle_main_removeObject(NULL));
  /* None of the refused calls reached the kit. */
  CHECK_STR(r.heard, "");
  CHECK_STR(tk_client_location_poiKey(client), "");

  CHECK(tk_client_location_accesskey(NULL) == NULL && isnan(tk_client_location_interval(NULL)));
  CHECK(!tk_client_location_callDelegate(client, NULL));
  CHECK(tk_location_res_retain(NULL) == NULL && tk_location_res_id(NULL) == NULL);
  CHECK(tk_location_detail_address(NULL) == NULL && isnan(tk_point_latitude(NULL)));
  CHECK(tk_geocode_list_count(NULL) == 0 && tk_geocode_list_at(NULL, 0) == NULL);
  tk_location_res_release(NULL);
  tk_geocode_list_release(NULL);
  tk_scripted_location_provider_release(NULL);
  tk_client_location_destroy(NULL);

  /* An authorisation status C passes is checked as an integer. */
  tk_scripted_location_provider* provider = tk_location_services_use_scripted();
  CHECK(tk_scripted_location_provider_setAuthorizationStatus(provider, (tk_authorization_status)99) ==
        TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_scripted_location_provider_setAuthorizationStatus(provider, TK_AUTHORIZATION_DENIED) == TK_OK);
  CHECK(tk_location_services_authorizationStatus() == TK_AUTHORIZATION_DENIED);
  tk_scripted_location_provider_release(provider);
  CHECK(tk_location_services_use_default() == TK_OK);
  tk_client_location_destroy(client);
}

void test_delegate_context_released_once(void) {
  recorder first = {0}, second = {0}, twice = {0}, shared = {0};
  /* A table too small for its first members is refused. */
  tk_location_delegate copy = {.size = 1};
  CHECK(tk_client_location_create(&copy) == NULL);
  tk_client_location* client = tk_client_location_create(recorder_delegate(&first));
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, &copy) == TK_ERROR_INVALID_ARGUMENT);
  CHECK(tk_client_location_setCallDelegate(client, &copy) == TK_ERROR_INVALID_ARGUMENT);
  /* Replacing a delegate releases its context at once, and once. */
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, recorder_delegate(&second)) == TK_OK);
  CHECK(first.releases == 1 && second.releases == 0);
  CHECK(tk_client_location_setCallDelegate(client, NULL) == TK_OK && second.releases == 1);
  copy.size = TK_LOCATION_DELEGATE_SIZE;
  CHECK(!tk_client_location_callDelegate(client, &copy));
  tk_client_location_destroy(client);
  CHECK(first.releases == 1 && second.releases == 1);

  /* One context reaching the kit several times is released once, after the last delegate
   * holding it has gone: given twice, then read back (into no more than the copy's size
   * says) and given again, to one facade... */
  client = tk_client_location_create(recorder_delegate(&twice));
  CHECK(tk_client_location_setLocationDelegateWith_delegate(client, &twice.delegate) == TK_OK);
  copy.size = 1;
  CHECK(!tk_client_location_callDelegate(client, &copy));
  copy.size = TK_LOCATION_DELEGATE_SIZE;
  CHECK(tk_client_location_callDelegate(client, &copy));
  CHECK(copy.context == &twice && copy.onLocationErrorWithMsg == twice.delegate.onLocationErrorWithMsg &&
        copy.releaseContext == twice.delegate.releaseContext);
  CHECK(tk_client_location_setCallDelegate(client, &copy) == TK_OK && twice.releases == 0);
  tk_client_location_destroy(client);
  CHECK(twice.releases == 1);

  /* ...and given to two facades, whose other one still reaches it (a missing consent is
   * reported before the call returns). */
  client = tk_client_location_create(recorder_delegate(&shared));
  tk_client_location* other = tk_client_location_create(&shared.delegate);
  tk_client_location_destroy(client);
  CHECK(shared.releases == 0);
  CHECK(tk_client_location_startLocation(other) == TK_OK);
  CHECK_STR(shared.heard, "E");
  CHECK_STR(shared.last_error, "您未同意隐私政策");
  tk_client_location_destroy(other);
  CHECK(shared.releases == 1);
  CHECK(!first.off_main_thread && !twice.off_main_thread && !shared.off_main_thread);
}

static void nothing(void* context) { (void)context; }

static void count_run(void* context) { ++*(int*)context; }

static bool always_true(void* context) {
  (void)context;
  return true;
}

/* Work the main thread posted before the second thread started; it runs only on the main thread. */
static int posted_runs = 0;

/* Checks on a second thread while the main thread waits for it in pthread_join (pthreads
 * rather than C11 threads: glibc's thrd_create bypasses ThreadSanitizer). */
static void* call_from_other_thread(void* client) {
  const tk_location fix = tk_location_make(39.9, 116.4);
  /* Driving the queue is refused, and says so; nothing runs. */
  size_t handled = 99;
  bool held = true;
  CHECK(tk_main_queue_poll_checked(&handled) == TK_ERROR_WRONG_THREAD && handled == 0);
  CHECK(tk_main_queue_run_for_checked(0.02, &handled) == TK_ERROR_WRONG_THREAD && handled == 0);
  CHECK(tk_main_queue_run_until_checked(always_true, NULL, 0.02, &held) == TK_ERROR_WRONG_THREAD && !held);
  CHECK(tk_main_queue_run_checked() == TK_ERROR_WRONG_THREAD);
  CHECK(tk_main_queue_poll() == 0 && tk_main_queue_run_for(0.02) == 0 &&
        !tk_main_queue_run_until(always_true, NULL, 0.02));
  tk_main_queue_run(); /* returns at once */
  CHECK(posted_runs == 0 && !tk_main_queue_is_main_thread());
  CHECK(tk_client_location_startLocation(client) == TK_ERROR_WRONG_THREAD);
  CHECK(tk_client_location_initKeyWithAccesskey(client, "K2") == TK_ERROR_WRONG_THREAD);
  CHECK(tk_client_location_getTrackLocationWithLocation(client, &fix) == TK_ERROR_WRONG_THREAD);
  CHECK(tk_client_location_accesskey(client) == NULL && tk_client_location_create(NULL) == NULL);
  /* What belongs to no thread still works. */
  CHECK(fabs(tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2(0.0, 0.0, 0.0, 1.0) - 111194.996) <= 1e-3);
  CHECK(tk_main_queue_async(nothing, NULL) == TK_OK);
  /* Handed to the main thread, which destroys it. */
  tk_client_location_destroy(client);
  return NULL;
}

void test_main_thread_entries_refuse_other_threads(void) {
  recorder r = {0};
  tk_client_location* client = ready_facade(recorder_delegate(&r));
  /* Driving the queue makes this thread the main thread. */
  CHECK(tk_main_queue_poll_checked(NULL) == TK_OK);
  const size_t requests = test_server_request_count(g_server);
  CHECK(tk_main_queue_async(count_run, &posted_runs) == TK_OK);
  pthread_t thread;
  CHECK(pthread_create(&thread, NULL, call_from_other_thread, client) == 0);
  CHECK(pthread_join(thread, NULL) == 0);
  CHECK(r.releases == 0 && posted_runs == 0 && recorder_wait_released(&r));
  CHECK(r.releases == 1 && !r.off_main_thread && posted_runs == 1);
  CHECK_STR(r.heard, "");
  CHECK(test_server_request_count(g_server) == requests);
}

void test_location_sessions(void) {
  tk_scripted_location_provider* provider = tk_location_services_use_scripted();
  recorder r = {0};
  tk_client_location* client = ready_facade(recorder_delegate(&r));
  const tk_location fix = tk_location_make(39.9042, 116.4074);
  /* A list of strings is taken (and an empty one with no array); the sessions below run
     without background modes, so the entry goes again. */
  CHECK(tk_bundle_main_setObject_strings("UIBackgroundModes", (const char* const[]){"location"}, 1) == TK_OK);
  CHECK(tk_bundle_main_setObject_strings("UIBackgroundModes", NULL, 0) == TK_OK);
  CHECK(tk_bundle_main_removeObject("UIBackgroundModes") == TK_OK);

  /* Without the purpose string a session fails at once. */
  CHECK(tk_bundle_main_removeObject("NSLocationWhenInUseUsageDescription") == TK_OK);
  CHECK(tk_client_location_startFastLocation(client) == TK_OK);
  CHECK_STR(r.heard, "E");
  CHECK(strncmp(r.last_error, "定位失败：", strlen("定位失败：")) == 0);
  CHECK_STR(r.last_typed, "location/1/location/0");
  CHECK(tk_client_location_isFastLocation(client) && !tk_client_location_isLocating(client));

  /* With it, one fix (answered by the service online, locally offline) ends the session. */
  CHECK(tk_bundle_main_setObject_string("NSLocationWhenInUseUsageDescription", "Shows where you are") == TK_OK);
  CHECK(tk_client_location_setIsFastLocation(client, false) == TK_OK);
  CHECK(tk_client_location_startLocation(client) == TK_OK);
  CHECK(tk_client_location_isLocating(client) && tk_scripted_location_provider_isUpdating(provider));
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  CHECK_HEARD(&r, "EL");
  CHECK(r.raw_count == 1);
  CHECK_STR(r.last_raw, "39.9042 116.4074 scripted simulated");
  CHECK(r.refused_nested_runs == 1 && !r.off_main_thread);
  const tk_point* point = tk_position_point(tk_location_detail_position(tk_location_res_location(r.kept_location)));
  CHECK(tk_point_latitude(point) < 40.0 && tk_point_longitude(point) > 116.0);
  CHECK(!tk_client_location_isLocating(client) && !tk_scripted_location_provider_isUpdating(provider));

  /* A continuous session whose callback destroys the facade: the session ends, the delegate
   * is let go and the result handed to the callback outlives the facade. */
  CHECK(tk_client_location_setIsLocateOnce(client, false) == TK_OK);
  r.destroy_in_callback = client;
  CHECK(tk_client_location_startLocation(client) == TK_OK);
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  CHECK_HEARD(&r, "ELL");
  CHECK(r.destroy_in_callback == NULL && r.releases == 1);
  CHECK(!tk_scripted_location_provider_isUpdating(provider));
  CHECK(tk_location_res_location(r.kept_location) != NULL);
  tk_location_res_release(r.kept_location);
  tk_scripted_location_provider_release(provider);
  tk_location_services_use_default();
}

static bool availability_heard(void* context) {
  const recorder* r = context;
  return r->availability_count > 0;
}

/* A source that stops is heard unavailable once, and available again before its next fix; a
 * table from before the member (its size ending before it) hears neither. The last fix comes
 * with its age while young enough. */
void test_availability_and_last_location(void) {
  tk_scripted_location_provider* provider = tk_location_services_use_scripted();
  recorder r = {0}, older = {0};
  tk_client_location* client = ready_facade(recorder_delegate(&r));
  recorder_delegate(&older)->size = offsetof(tk_location_delegate, onLocationAvailabilityChanged);
  tk_client_location* old_client = ready_facade(&older.delegate);
  tk_location fix = tk_location_make(39.9042, 116.4074);
  CHECK(tk_client_location_setIsLocateOnce(client, false) == TK_OK);
  CHECK(tk_client_location_setIsLocateOnce(old_client, false) == TK_OK);
  CHECK(tk_client_location_startLocation(client) == TK_OK);
  CHECK(tk_client_location_startLocation(old_client) == TK_OK);
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  CHECK(tk_main_queue_run_until(availability_heard, &r, 20.0));
  CHECK_STR(r.last_availability, "false silent scripted");
  fix.latitude = 39.91;
  CHECK(tk_scripted_location_provider_pushLocation(provider, &fix) == TK_OK);
  CHECK(r.availability_count == 2);
  CHECK_STR(r.last_availability, "true resumed scripted");
  CHECK(older.availability_count == 0 && older.raw_count == 2);

  tk_location last = {0};
  double age = -1.0;
  CHECK(tk_client_location_lastLocation(client, 3600.0, &last, &age));
  CHECK(last.latitude == 39.91 && last.longitude == 116.4074 && age >= 0.0 && age < 3600.0);
  CHECK(tk_client_location_lastLocation(client, 3600.0, &last, NULL));
  CHECK(!tk_client_location_lastLocation(client, -1.0, &last, &age));
  CHECK(!tk_client_location_lastLocation(client, 3600.0, NULL, &age));
  CHECK(!tk_client_location_lastLocation(NULL, 3600.0, &last, &age));
  CHECK(tk_client_location_setAgreePrivacyWithIsAgree(client, false) == TK_OK);
  CHECK(!tk_client_location_lastLocation(client, 3600.0, &last, &age));
  CHECK_STR(tk_availability_reason_name(TK_AVAILABILITY_FAILED), "failed");
  CHECK_STR(tk_availability_reason_name(7), "unknown");
  tk_client_location_destroy(client);
  tk_client_location_destroy(old_client);
  tk_location_res_release(r.kept_location);
  tk_location_res_release(older.kept_location);
  tk_scripted_location_provider_release(provider);
  tk_location_services_use_default();
}
