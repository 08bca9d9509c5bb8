/**
 * @file tovik_c.h
 * @brief The C interface of the Tovik location kit.
 *
 * Every operation of the C++ API is here under its message name: `tk_` + the class name
 * in snake case + `_` + the message name with each ':' between parts written as '_'
 * (`initKeyWithAccesskey:` is tk_client_location_initKeyWithAccesskey,
 * `getReverseCodeWithLatitude:longitude:` is
 * tk_client_location_getReverseCodeWithLatitude_longitude). Property getters carry the
 * property's name, setters `set` + the name (tk_client_location_setInterval).
 *
 * Rules that hold for every function below:
 *
 * - **Errors.** No C++ exception ever leaves a function of this header. Operations that can
 *   fail return a ::tk_status; a NULL handle or a NULL required pointer argument is refused
 *   with ::TK_ERROR_NULL_ARGUMENT and changes nothing. Getters given a NULL handle return
 *   NULL, false, 0 or NaN. Failures of the kit's own work (no consent, no key, a service
 *   error) are not status codes: they reach the delegate's `onLocationErrorWithMsg`, as in
 *   the C++ API.
 * - **Strings** are UTF-8 and NUL-terminated, in both directions. The kit copies every
 *   string it is given before the call returns. Strings it returns are owned by the kit:
 *   - a string passed to a callback is valid until the callback returns;
 *   - a string read from a result object is valid while that result handle lives;
 *   - a string read from a facade property is valid until that property is set again or
 *     the facade is destroyed;
 *   - version strings are valid for the life of the process.
 *   Copy a string to keep it longer. Never free a string the kit returns.
 * - **Threads.** Configure and call the facade and the providers from one thread, the main
 *   thread: the thread that drives the main queue (tk_main_queue_run() and friends). Once a
 *   thread has driven the queue, these functions refuse every other thread: those returning a
 *   ::tk_status return ::TK_ERROR_WRONG_THREAD, the others NULL, false, 0 or NaN as for a NULL
 *   handle, and tk_client_location_destroy() hands the handle to the main thread, which
 *   destroys it in its next turn. Before that any thread may set up. Every delegate callback
 *   arrives on the main thread, while it drives the queue, or synchronously inside the call
 *   that caused it (a missing consent or key is reported before the operation returns). The
 *   coordinate transforms, the version, the status texts, the network check, the bundle,
 *   tk_main_queue_async() and the retain and release of results may be called from any
 *   thread.
 * - **Callbacks** must not drive the main queue themselves (the queue does not nest); the
 *   driving calls refuse to run from inside a callback. A callback may call any other
 *   function here, including destroying the facade that called it.
 */
#ifndef TOVIK_TOVIK_C_H
#define TOVIK_TOVIK_C_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define TK_API __attribute__((visibility("default")))
#else
#define TK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------- */
/** @name Status codes */
/** @{ */

/** The outcome of a call through this interface (not of the kit's work, which reaches the
 *  delegate). */
typedef enum tk_status {
  TK_OK = 0,                    /**< The call was accepted. */
  TK_ERROR_NULL_ARGUMENT = 1,   /**< A handle or a required pointer argument was NULL; nothing changed. */
  TK_ERROR_INVALID_ARGUMENT = 2, /**< An argument is out of range (see the function); nothing changed. */
  TK_ERROR_WRONG_THREAD = 3,    /**< Called from a thread other than the main thread, once a thread
                                     drives the main queue, by a function that belongs to the main
                                     thread; nothing changed. */
  TK_ERROR_INTERNAL = 4,        /**< The kit failed unexpectedly (for example out of memory). */
  TK_ERROR_NESTED = 5           /**< A driving call of the main queue made from inside one of its
                                     callbacks (the queue does not nest); nothing ran. */
} tk_status;

/** A short English description of `status`, for logs. Static storage; never NULL. */
TK_API const char* tk_status_description(tk_status status);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name Value types */
/** @{ */

/** Latitude and longitude in degrees (north and east positive); the argument and result of
 *  the coordinate transforms. */
typedef struct tk_coordinate {
  double latitude;  /**< degrees, north positive */
  double longitude; /**< degrees, east positive */
} tk_coordinate;

/** One fix of the device's location service, a plain value. Negative accuracies mean "not
 *  valid", a negative speed or course "unknown". */
typedef struct tk_location {
  double latitude;           /**< degrees */
  double longitude;          /**< degrees */
  double altitude;           /**< metres */
  double horizontalAccuracy; /**< metres; negative: no valid horizontal position */
  double verticalAccuracy;   /**< metres; zero or negative: no valid altitude */
  double speed;              /**< metres per second; negative: unknown */
  double course;             /**< degrees from true north; negative: unknown */
  int64_t timestamp;         /**< milliseconds since the Unix epoch */
} tk_location;

/** A fix at (`latitude`, `longitude`), taken now, with altitude 0, horizontal accuracy 0
 *  and unknown vertical accuracy, speed and course. */
TK_API tk_location tk_location_make(double latitude, double longitude);

/** The datum a coordinate is written in (`Datum` in C++). A GPS receiver reports WGS-84; the
 *  location service reads and answers GCJ-02; BD-09 is a second offset on top of GCJ-02.
 *  Functions take a datum as an int32_t holding one of these values. */
typedef enum tk_datum {
  TK_DATUM_WGS84 = 0,
  TK_DATUM_GCJ02 = 1,
  TK_DATUM_BD09 = 2
} tk_datum;

/** A fix as the location source gave it, for `onReceivedRawLocation`. Later versions may add
 *  members after `simulated`; read no member past `size`. */
typedef struct tk_raw_location {
  size_t size;          /**< sizeof(tk_raw_location) of the kit that filled it */
  tk_location location; /**< WGS-84, with the source's accuracy, altitude, speed, course and time */
  const char* source;   /**< "gpsd", "geoclue", "nmea-replay", "scripted", "fixed", ...; "" when unknown */
  bool simulated;       /**< replayed, scripted or fixed rather than measured now */
} tk_raw_location;

/** Why the location source's availability changed (`LocationAvailability::Reason`). */
typedef enum tk_availability_reason {
  TK_AVAILABILITY_RESUMED = 0, /**< a fix arrived after a spell without any */
  TK_AVAILABILITY_SILENT = 1,  /**< no fix for twice the source's expected interval */
  TK_AVAILABILITY_FAILED = 2   /**< the source failed; its error follows */
} tk_availability_reason;

/** Whether the location source delivers fixes, for `onLocationAvailabilityChanged`. Later
 *  versions may add members after `expectedInterval`; read no member past `size`. */
typedef struct tk_location_availability {
  size_t size;             /**< sizeof(tk_location_availability) of the kit that filled it */
  bool available;          /**< false: the source stopped delivering; true: it delivers again */
  int32_t reason;          /**< a ::tk_availability_reason */
  const char* source;      /**< the source's name, as fixes carry it ("gpsd", "geoclue", ...) */
  double lastFixAge;       /**< seconds since the kit received the source's last fix (for a resumption, the one
                                before it: how long the source was away); NaN before its first */
  double expectedInterval; /**< seconds the watchdog expects between fixes; 0 when it does not watch silence */
} tk_location_availability;

/** "resumed", "silent", "failed"; "unknown" otherwise. */
TK_API const char* tk_availability_reason_name(int32_t reason);

/** Where a failure arose (`TkErrorDomain`); the codes of each domain are listed with it. */
typedef enum tk_error_domain {
  /** The call could not start: 1 privacy policy not agreed, 2 no access key, 3 the service
   *  address is unusable, 4 the request could not be encoded. */
  TK_ERROR_DOMAIN_PRECONDITION = 1,
  /** The location source failed: 1 no purpose declared for location use, 2 location use
   *  denied, 3 no source can be reached, 4 no fix in time, 5 the source failed otherwise. */
  TK_ERROR_DOMAIN_LOCATION = 2,
  /** No answer came back: 1 connection refused or unreachable, 2 host not found, 3 timed out
   *  before an answer, 4 TLS failed, 5 the connection broke off, 6 other, 7 no response. */
  TK_ERROR_DOMAIN_NETWORK = 3,
  /** An HTTP status outside 200 to 299; the code is the status. */
  TK_ERROR_DOMAIN_HTTP = 4,
  /** The answer did not decode (not JSON, wrong shape, too large); code 1. */
  TK_ERROR_DOMAIN_DECODING = 5,
  /** A success status the call does not accept (the fused location and reverse geocoding take
   *  200 only); the code is the status. */
  TK_ERROR_DOMAIN_SERVICE = 6
} tk_error_domain;

/** Which operation failed (`TkCall`). */
typedef enum tk_call {
  TK_CALL_NONE = 0,            /**< the application's own privacy-and-key check */
  TK_CALL_LOCATION = 1,        /**< a location session or tk_client_location_getTrackLocationWithLocation() */
  TK_CALL_REVERSE_GEOCODE = 2,
  TK_CALL_GEOCODE = 3,
  TK_CALL_PLACE_SEARCH = 4,
  TK_CALL_NEARBY_SEARCH = 5
} tk_call;

/** A failure as a value (`TkError`), for `onLocationErrorWithError`. Later versions may add
 *  members after `attempts`; read no member past `size`. */
typedef struct tk_error {
  size_t size;         /**< sizeof(tk_error) of the kit that filled it */
  int32_t domain;      /**< a ::tk_error_domain */
  int32_t code;        /**< stable within the domain */
  int32_t call;        /**< a ::tk_call */
  const char* message; /**< exactly the text `onLocationErrorWithMsg` heard */
  const char* detail;  /**< an English explanation */
  double retryAfter;   /**< seconds the service asked to wait (Retry-After); NaN when it did not say */
  int32_t attempts;    /**< requests sent for the call; 0 when it failed before sending */
} tk_error;

/** "precondition", "location", "network", "http", "decoding", "service"; "unknown" otherwise. */
TK_API const char* tk_error_domain_name(int32_t domain);
/** "none", "location", "reverse geocode", "geocode", "place search", "nearby search"; "unknown"
 *  otherwise. */
TK_API const char* tk_call_name(int32_t call);

/** What the location service allows the application. Values match the C++
 *  `AuthorizationStatus`. */
typedef enum tk_authorization_status {
  TK_AUTHORIZATION_NOT_DETERMINED = 0,
  TK_AUTHORIZATION_RESTRICTED = 1,
  TK_AUTHORIZATION_DENIED = 2,
  TK_AUTHORIZATION_AUTHORIZED_ALWAYS = 3,
  TK_AUTHORIZATION_AUTHORIZED_WHEN_IN_USE = 4
} tk_authorization_status;

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name Results
 *
 * A result reaches a callback as a borrowed handle: valid until the callback returns. To keep
 * it, call the `_retain` function inside the callback and the `_release` function when done.
 * Everything read from a result (nested objects, strings, list elements) belongs to the root
 * handle and stays valid while that handle lives; nested objects have no retain of their own.
 * Results are read-only.
 */
/** @{ */

typedef struct tk_location_res tk_location_res;       /**< `LocationRes`: a located answer. */
typedef struct tk_location_detail tk_location_detail; /**< `LocationDetail`: its `location`. */
typedef struct tk_address_info tk_address_info;       /**< `AddressInfo`: an address and its levels. */
typedef struct tk_address tk_address;                 /**< `Address`: one level of an address. */
typedef struct tk_place_info tk_place_info;           /**< `PlaceInfo`: the nearest place. */
typedef struct tk_distance_info tk_distance_info;     /**< `DistanceInfo`: a place's distance. */
typedef struct tk_position tk_position;               /**< `Position`: the position block. */
typedef struct tk_point tk_point;                     /**< `TkPoint`: longitude and latitude. */
typedef struct tk_geocode_list tk_geocode_list;       /**< A list of `GeocodeRes`, as one answer. */
typedef struct tk_geocode_res tk_geocode_res;         /**< `GeocodeRes`: one geocoding or place item. */
typedef struct tk_category tk_category;               /**< `TkCategory`: a category of an item. */

/** Keeps `result` beyond the callback that lent it; returns it. Pair with
 *  tk_location_res_release(). Any thread. */
TK_API tk_location_res* tk_location_res_retain(const tk_location_res* result);
/** Gives up one reference taken with tk_location_res_retain(). NULL is ignored. Any thread. */
TK_API void tk_location_res_release(tk_location_res* result);

/** The answer's identifier (empty in a local result). */
TK_API const char* tk_location_res_id(const tk_location_res* result);
/** The asset the answer belongs to (empty in a local result). */
TK_API const char* tk_location_res_asset(const tk_location_res* result);
/** The located result itself. */
TK_API const tk_location_detail* tk_location_res_location(const tk_location_res* result);

/** Milliseconds since the Unix epoch. */
TK_API int64_t tk_location_detail_timestamp(const tk_location_detail* detail);
/** NULL when the answer has no address. */
TK_API const tk_address_info* tk_location_detail_address(const tk_location_detail* detail);
/** NULL when the answer has no place. */
TK_API const tk_place_info* tk_location_detail_place(const tk_location_detail* detail);
/** Where the result lies. */
TK_API const tk_position* tk_location_detail_position(const tk_location_detail* detail);

/** The position's coordinate (GCJ-02 in the kit's answers). */
TK_API const tk_point* tk_position_point(const tk_position* position);
/** Degrees; NaN for NULL. */
TK_API double tk_point_longitude(const tk_point* point);
/** Degrees; NaN for NULL. */
TK_API double tk_point_latitude(const tk_point* point);

/** The full address as one text. */
TK_API const char* tk_address_info_name(const tk_address_info* info);
/** Number of address levels, widest first. */
TK_API size_t tk_address_info_context_count(const tk_address_info* info);
/** Level `index` (0 is the widest); NULL when out of range. */
TK_API const tk_address* tk_address_info_context_at(const tk_address_info* info, size_t index);

/** The level's kind, as the service names it (for example a city or a district). */
TK_API const char* tk_address_type(const tk_address* address);
/** The level's name. */
TK_API const char* tk_address_name(const tk_address* address);
/** The level's administrative code. */
TK_API const char* tk_address_code(const tk_address* address);

/** The nearest place's kind. */
TK_API const char* tk_place_info_type(const tk_place_info* place);
/** The nearest place's name. */
TK_API const char* tk_place_info_name(const tk_place_info* place);
/** How far the nearest place is. */
TK_API const tk_distance_info* tk_place_info_distance(const tk_place_info* place);
/** In the service's unit, passed on unchanged. */
TK_API double tk_distance_info_line(const tk_distance_info* distance);

/** Keeps `list` beyond the callback that lent it; returns it. Pair with
 *  tk_geocode_list_release(). Any thread. */
TK_API tk_geocode_list* tk_geocode_list_retain(const tk_geocode_list* list);
/** Gives up one reference taken with tk_geocode_list_retain(). NULL is ignored. Any thread. */
TK_API void tk_geocode_list_release(tk_geocode_list* list);
/** Number of items; 0 for NULL. */
TK_API size_t tk_geocode_list_count(const tk_geocode_list* list);
/** Item `index` in the service's order; NULL when out of range. */
TK_API const tk_geocode_res* tk_geocode_list_at(const tk_geocode_list* list, size_t index);

/** The item's identifier. */
TK_API const char* tk_geocode_res_id(const tk_geocode_res* item);
/** The service's text of the point, unparsed. */
TK_API const char* tk_geocode_res_geoPoint(const tk_geocode_res* item);
/** The item's kind. */
TK_API const char* tk_geocode_res_type(const tk_geocode_res* item);
/** The item's name. */
TK_API const char* tk_geocode_res_name(const tk_geocode_res* item);
/** The item's administrative code. */
TK_API const char* tk_geocode_res_code(const tk_geocode_res* item);
/** Whether the item has a category list at all (an absent list differs from an empty one). */
TK_API bool tk_geocode_res_hasCategories(const tk_geocode_res* item);
/** Number of categories; 0 when absent. */
TK_API size_t tk_geocode_res_categories_count(const tk_geocode_res* item);
/** Category `index`; NULL when out of range or absent. */
TK_API const tk_category* tk_geocode_res_categories_at(const tk_geocode_res* item, size_t index);
/** The item's address. */
TK_API const tk_address_info* tk_geocode_res_address(const tk_geocode_res* item);
/** How well the item matches the query, as the service rates it. */
TK_API double tk_geocode_res_relevance(const tk_geocode_res* item);
/** The item's distance, in the service's unit. */
TK_API double tk_geocode_res_distance(const tk_geocode_res* item);

/** The category's identifier. */
TK_API const char* tk_category_id(const tk_category* category);
/** The category's name. */
TK_API const char* tk_category_name(const tk_category* category);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name The delegate */
/** @{ */

/**
 * What the application implements to receive results and errors: `LocationDelegate` as a
 * table of function pointers plus a context pointer handed back to each of them.
 *
 * The kit copies the structure when it is given (tk_client_location_create(),
 * tk_client_location_setLocationDelegateWith_delegate(),
 * tk_client_location_setCallDelegate()); changing the caller's copy afterwards has no
 * effect. A NULL member means "not implemented": that result or error is dropped, exactly
 * as for an optional member of the C++ delegate. Every member is called on the main thread.
 * Arguments are borrowed for the duration of the call (see Results and the string rules).
 */
typedef struct tk_location_delegate {
  /** `sizeof(tk_location_delegate)` as the application was built with (TK_LOCATION_DELEGATE_SIZE),
   *  so that later versions can add members: the kit reads no member past `size` and treats
   *  members it does not know as absent. A table smaller than this version's first table is
   *  rejected (TK_ERROR_INVALID_ARGUMENT, or NULL from tk_client_location_create()). */
  size_t size;
  /** Passed back as the first argument of every member. The kit never reads it. */
  void* context;
  /** A located result: the service's answer, or the local GCJ-02 result when offline. */
  void (*onReceivedLocationWithTkLocation)(void* context, const tk_location_res* location);
  /** Any failure: consent or key missing, location failed, a service error. */
  void (*onLocationErrorWithMsg)(void* context, const char* msg);
  /** The answer of tk_client_location_getReverseCodeWithLatitude_longitude(). */
  void (*onReceivedReverseCodeWithTkLocation)(void* context, const tk_location_res* location);
  /** The answer of tk_client_location_getGeocCodeWithAddress_city(). */
  void (*onReceivedGeocodeWithResult)(void* context, const tk_geocode_list* result);
  /** The answer of either place search. */
  void (*onReceivedPoiSearchWithResult)(void* context, const tk_geocode_list* result);
  /** Called once per context, with `context`, on the main thread, when the kit lets go of the
   *  last delegate holding that context (replaced, cleared or its facade destroyed, and no
   *  callback of it still running). Lets the application free the context. Tables with the
   *  same context share it, however they reached the kit: the same table given twice, a table
   *  read back with tk_client_location_callDelegate() and given again, or one table given to
   *  two facades; the release of the first of them that set one runs. A NULL context is not
   *  shared: each delegate with a NULL context calls its own release once, when it is let go.
   *  May be NULL. */
  void (*releaseContext)(void* context);
  /** Every fix a session accepts from the location source, before anything is sent (WGS-84). */
  void (*onReceivedRawLocation)(void* context, const tk_raw_location* fix);
  /** Every failure as a typed value, right after `onLocationErrorWithMsg` heard its text. */
  void (*onLocationErrorWithError)(void* context, const tk_error* error);
  /** While a session runs: the location source stopped delivering (silent, or failed: its error
   *  follows) or delivers again (before the fix that shows it); each change once. */
  void (*onLocationAvailabilityChanged)(void* context, const tk_location_availability* availability);
} tk_location_delegate;

/** The value of tk_location_delegate's `size` member for this header. */
#define TK_LOCATION_DELEGATE_SIZE sizeof(tk_location_delegate)

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name The facade: TkClientLocation */
/** @{ */

/** The application's handle of a `TkClientLocation`. */
typedef struct tk_client_location tk_client_location;

/**
 * `initWithDelegate:` — creates a facade: defaults set, location controller set up (it asks
 * the location service for when-in-use authorisation), version banner printed. `delegate`
 * may be NULL (no callbacks until one is set); it is copied. Returns NULL only when out of
 * memory. The caller owns the handle: destroy it with tk_client_location_destroy().
 */
TK_API tk_client_location* tk_client_location_create(const tk_location_delegate* delegate);
/**
 * Destroys the handle: the facade's timer and location updates end. Answers of place
 * searches already sent are still delivered to the delegate; the other calls' answers are
 * dropped. Allowed inside a callback of this facade. NULL is ignored.
 */
TK_API void tk_client_location_destroy(tk_client_location* client);

/** `initKeyWithAccesskey:` — stores `accesskey` as the access key and the POI key, for this
 *  facade and for every request of the process. */
TK_API tk_status tk_client_location_initKeyWithAccesskey(tk_client_location* client, const char* accesskey);
/** `setPoiKeyWithPoikey:` — stores a separate key for the place searches. */
TK_API tk_status tk_client_location_setPoiKeyWithPoikey(tk_client_location* client, const char* poikey);
/** `setAgreePrivacyWithIsAgree:` — records whether the user agreed to the privacy policy. */
TK_API tk_status tk_client_location_setAgreePrivacyWithIsAgree(tk_client_location* client, bool isAgree);
/** `setLocationDelegateWith_delegate:` — replaces the delegate (copied); NULL clears it. */
TK_API tk_status tk_client_location_setLocationDelegateWith_delegate(tk_client_location* client,
                                                                     const tk_location_delegate* delegate);
/** `milliStamp` — now, in milliseconds since the Unix epoch; 0 for a NULL handle. */
TK_API int64_t tk_client_location_milliStamp(const tk_client_location* client);
/** `isLogEnabled` — the process-wide switch of the kit's console log (default off). */
TK_API bool tk_client_location_isLogEnabled(void);
/** `setIsLogEnabled:` */
TK_API void tk_client_location_setIsLogEnabled(bool enabled);
/** Receives the kit's console text: `length` bytes at `text` (not NUL-terminated), line feed
 *  included, as standard output would have got them. Called from the thread that logs, one
 *  call at a time; must not call back into the log. */
typedef void (*tk_log_handler)(const char* text, size_t length, void* context);
/** Sends the kit's console to `handler` (with `context`) instead of standard output; NULL
 *  restores standard output. */
TK_API void tk_client_location_setLogHandler(tk_log_handler handler, void* context);

/** `callDelegate` — copies the current delegate into `out`, as far as `out->size` (set it
 *  first) reaches, and sets `out->size` to what was written; false (and `out` untouched) when
 *  there is none, a NULL argument or a `size` too small for the first table. */
TK_API bool tk_client_location_callDelegate(const tk_client_location* client, tk_location_delegate* out);
/** `setCallDelegate:` — same effect as tk_client_location_setLocationDelegateWith_delegate(). */
TK_API tk_status tk_client_location_setCallDelegate(tk_client_location* client, const tk_location_delegate* delegate);
/** `accesskey` — NULL when absent. */
TK_API const char* tk_client_location_accesskey(const tk_client_location* client);
/** `setAccesskey:` — changes only the property (not the process-wide key); NULL makes it absent. */
TK_API tk_status tk_client_location_setAccesskey(tk_client_location* client, const char* accesskey);
/** `poiKey` — NULL when absent. */
TK_API const char* tk_client_location_poiKey(const tk_client_location* client);
/** `setPoiKey:` — changes only the property; NULL makes it absent. */
TK_API tk_status tk_client_location_setPoiKey(tk_client_location* client, const char* poiKey);
/** `interval` — seconds between results of a continuous session; NaN for a NULL handle. */
TK_API double tk_client_location_interval(const tk_client_location* client);
/** `setInterval:` — takes effect at the next continuous session's first fix. */
TK_API tk_status tk_client_location_setInterval(tk_client_location* client, double interval);
/** `isLocateOnce` — a session delivers one fix (true, the default) or a series. */
TK_API bool tk_client_location_isLocateOnce(const tk_client_location* client);
/** `setIsLocateOnce:` */
TK_API tk_status tk_client_location_setIsLocateOnce(tk_client_location* client, bool isLocateOnce);
/** `isFastLocation` — a single-fix session picks the best fix of a short window. */
TK_API bool tk_client_location_isFastLocation(const tk_client_location* client);
/** `setIsFastLocation:` */
TK_API tk_status tk_client_location_setIsFastLocation(tk_client_location* client, bool isFastLocation);
/** `isAgree` */
TK_API bool tk_client_location_isAgree(const tk_client_location* client);
/** `setIsAgree:` — same effect as tk_client_location_setAgreePrivacyWithIsAgree(). */
TK_API tk_status tk_client_location_setIsAgree(tk_client_location* client, bool isAgree);
/** `serviceURL` — the location service's base address (default from the build). */
TK_API const char* tk_client_location_serviceURL(const tk_client_location* client);
/** `setServiceURL:` — sets the address when tk_service_url_problem() finds nothing wrong with it;
 *  otherwise returns ::TK_ERROR_INVALID_ARGUMENT and keeps the old one. */
TK_API tk_status tk_client_location_setServiceURL(tk_client_location* client, const char* serviceURL);
/** Why `serviceURL` cannot be the service address, as an English sentence in static storage,
 *  or NULL when it can: it must be absolute, https (plain http only to a loopback host), name a
 *  host and carry no query or fragment. Any thread. */
TK_API const char* tk_service_url_problem(const char* serviceURL);
/** How calls behave when the service struggles (`ServicePolicy`); every member off by default.
 *  Later versions may add members; the kit reads none past `size`. */
typedef struct tk_service_policy {
  size_t size;                 /**< sizeof(tk_service_policy) as the application was built with */
  bool backoff;                /**< a continuous session skips ticks while an upload is out or the service asked to wait (429/503) */
  int32_t retries;             /**< a failed call is sent again up to this many times when safe (0: never) */
  bool offlineWhenUnreachable; /**< the fused-location call answers locally when the service cannot be reached */
  double cacheMetres;          /**< above 0: lookups answered from a cache for a point within this many metres */
  double cacheSeconds;         /**< how long a cached answer serves (default 300) */
} tk_service_policy;

/** A policy with every member at its default (all off), `size` set. */
TK_API tk_service_policy tk_service_policy_make(void);
/** Sets the facade's policy. ::TK_ERROR_INVALID_ARGUMENT, and nothing changes, for a table too
 *  small, negative retries, a negative or NaN `cacheMetres`, or a `cacheSeconds` not above 0. */
TK_API tk_status tk_client_location_setServicePolicy(tk_client_location* client, const tk_service_policy* policy);
/** The facade's policy, as far as `out->size` reaches; false for a NULL argument or a table too small. */
TK_API bool tk_client_location_servicePolicy(const tk_client_location* client, tk_service_policy* out);

/** Whether a location session is running. */
TK_API bool tk_client_location_isLocating(const tk_client_location* client);

/** `startLocation` — one fix or a continuous series, as configured. Does nothing while a
 *  session runs. */
TK_API tk_status tk_client_location_startLocation(tk_client_location* client);
/** `startFastLocation` — sets `isLocateOnce` and `isFastLocation` (they stay set), then starts. */
TK_API tk_status tk_client_location_startFastLocation(tk_client_location* client);
/** `stopLocation` — ends the session, its timer and the location updates. */
TK_API tk_status tk_client_location_stopLocation(tk_client_location* client);
/** `lastLocation` — the last fix the location source delivered (to any session of the process),
 *  if it is at most `maxAgeSeconds` old: copies it into `out` and its age in seconds (since
 *  the kit received it) into `ageSeconds` (may be NULL) and returns true. False, with `out`
 *  untouched, when there is none that recent, without the user's consent, for a NULL handle
 *  or `out`, or off the main thread. */
TK_API bool tk_client_location_lastLocation(const tk_client_location* client, double maxAgeSeconds,
                                            tk_location* out, double* ageSeconds);

/** `getTrackLocationWithLocation:` — sends one fix to the fused-location service; the answer
 *  reaches `onReceivedLocationWithTkLocation`. */
TK_API tk_status tk_client_location_getTrackLocationWithLocation(tk_client_location* client,
                                                                 const tk_location* location);
/** `getReverseCodeWithLatitude:longitude:` — the address at a GCJ-02 point (the datum the service
 *  reads); the answer reaches `onReceivedReverseCodeWithTkLocation`. */
TK_API tk_status tk_client_location_getReverseCodeWithLatitude_longitude(tk_client_location* client,
                                                                         double latitude, double longitude);
/** The address at (`latitude`, `longitude`) written in `datum` (a ::tk_datum), converted to GCJ-02
 *  first; the plain function above takes GCJ-02. ::TK_ERROR_INVALID_ARGUMENT for another datum. */
TK_API tk_status tk_client_location_getReverseCodeWithLatitude_longitude_datum(tk_client_location* client,
                                                                               double latitude, double longitude,
                                                                               int32_t datum);
/** `getGeocCodeWithAddress:city:` — the answer reaches `onReceivedGeocodeWithResult`. */
TK_API tk_status tk_client_location_getGeocCodeWithAddress_city(tk_client_location* client, const char* address,
                                                                const char* city);
/** `poiKeySearchWithName:city_code:city:page_index:page_size:` — the answer reaches
 *  `onReceivedPoiSearchWithResult`. */
TK_API tk_status tk_client_location_poiKeySearchWithName_city_code_city_page_index_page_size(
    tk_client_location* client, const char* name, const char* city_code, const char* city, int32_t page_index,
    int32_t page_size);
/** `poiNearbySearchWithKeywords:location:radius:category:orderby:page_index:page_size:` — the
 *  answer reaches `onReceivedPoiSearchWithResult`. */
TK_API tk_status
tk_client_location_poiNearbySearchWithKeywords_location_radius_category_orderby_page_index_page_size(
    tk_client_location* client, const char* keywords, const char* location, int32_t radius, const char* category,
    const char* orderby, int32_t page_index, int32_t page_size);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name Coordinate transforms: OrbCoorTransform
 *
 * Pure functions; any thread. WGS-84 is what a GPS receiver reports, GCJ-02 the offset datum
 * used in China (applied only inside its region), BD-09 a second offset on top of GCJ-02.
 */
/** @{ */

/** `transformFromWGSToGCJ:` — unchanged outside the GCJ-02 region. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromWGSToGCJ(tk_coordinate wgs);
/** `transformFromGCJToWGS:` — a numeric inverse, within a few millionths of a degree. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromGCJToWGS(tk_coordinate gcj);
/** `transformFromGCJToBaidu:` */
TK_API tk_coordinate tk_orb_coor_transform_transformFromGCJToBaidu(tk_coordinate gcj);
/** `transformFromBaiduToGCJ:` — undoes tk_orb_coor_transform_transformFromGCJToBaidu() to a few centimetres. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromBaiduToGCJ(tk_coordinate bd);
/** `transformFromWGSToBaidu:` — WGS-84 to GCJ-02, then to BD-09. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromWGSToBaidu(tk_coordinate wgs);
/** `transformFromBaiduToWGS:` — BD-09 to GCJ-02, then to WGS-84. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGS(tk_coordinate bd);
/** `distanceByPointWithLat1:lat2:lng1:lng2:` — metres between (lat1, lng1) and (lat2, lng2). */
TK_API double tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2(double lat1, double lat2, double lng1,
                                                                           double lng2);
/** `distanceByPointWithPoint1:point2:` — metres between two points. */
TK_API double tk_orb_coor_transform_distanceByPointWithPoint1_point2(tk_coordinate point1, tk_coordinate point2);

/**
 * Batch forms: `out[i]` = the transform of `in[i]` for i < `count`, on the widest vector unit
 * the CPU offers (within 1e-12 degree of the single-point functions). `in` and `out` may be
 * the same array; arrays that overlap otherwise are refused with ::TK_ERROR_INVALID_ARGUMENT
 * and nothing is written. A `count` of 0 is accepted with NULL arrays. No allocation.
 */
TK_API tk_status tk_orb_coor_transform_transformFromWGSToGCJ_batch(const tk_coordinate* in, tk_coordinate* out,
                                                                   size_t count);
/** The batch form of tk_orb_coor_transform_transformFromGCJToWGS(). */
TK_API tk_status tk_orb_coor_transform_transformFromGCJToWGS_batch(const tk_coordinate* in, tk_coordinate* out,
                                                                   size_t count);
/** The batch form of tk_orb_coor_transform_transformFromGCJToBaidu(). */
TK_API tk_status tk_orb_coor_transform_transformFromGCJToBaidu_batch(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count);
/** The batch form of tk_orb_coor_transform_transformFromBaiduToGCJ(). */
TK_API tk_status tk_orb_coor_transform_transformFromBaiduToGCJ_batch(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count);
/** The batch form of tk_orb_coor_transform_transformFromWGSToBaidu(). */
TK_API tk_status tk_orb_coor_transform_transformFromWGSToBaidu_batch(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count);
/** The batch form of tk_orb_coor_transform_transformFromBaiduToWGS(). */
TK_API tk_status tk_orb_coor_transform_transformFromBaiduToWGS_batch(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count);

/**
 * The precise inverses (`transformFromGCJToWGSPrecise`, `transformFromBaiduToWGSPrecise`): Newton's
 * method instead of the search, so the forward transform of the result is within 2e-12 degree of
 * the input inside the GCJ-02 region (1e-9 degree, 0.1 mm, within 30 m of longitude 105 E). A
 * point outside the region comes back unchanged. The batch forms are as the batch functions above.
 */
TK_API tk_coordinate tk_orb_coor_transform_transformFromGCJToWGSPrecise(tk_coordinate gcj);
TK_API tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGSPrecise(tk_coordinate bd);
TK_API tk_status tk_orb_coor_transform_transformFromGCJToWGSPrecise_batch(const tk_coordinate* in,
                                                                          tk_coordinate* out, size_t count);
TK_API tk_status tk_orb_coor_transform_transformFromBaiduToWGSPrecise_batch(const tk_coordinate* in,
                                                                            tk_coordinate* out, size_t count);

/** Metres along the WGS-84 ellipsoid's geodesic between two WGS-84 points (GeographicLib); NaN for
 * a NaN coordinate or a latitude outside [-90, 90]. */
TK_API double tk_orb_coor_transform_geodesicDistance(tk_coordinate point1, tk_coordinate point2);
/** The length in metres of the track `points[0]`..`points[count - 1]`: the sum of the distances
 * between consecutive points on the sphere (as tk_orb_coor_transform_distanceByPointWithPoint1_point2()).
 * Fewer than two points, or NULL: 0. */
TK_API double tk_orb_coor_transform_trackLength(const tk_coordinate* points, size_t count);
/** As tk_orb_coor_transform_trackLength(), on the ellipsoid (tk_orb_coor_transform_geodesicDistance()). */
TK_API double tk_orb_coor_transform_geodesicTrackLength(const tk_coordinate* points, size_t count);

/**
 * Where GCJ-02 differs from WGS-84 (`Region` in C++). ::TK_REGION_RECTANGLE is the GCJ-02
 * rectangle of the functions above; ::TK_REGION_PRECISE is mainland China and its coastal waters
 * from Natural Earth's 1:10 m boundaries (Hong Kong, Macao and Taiwan outside). The functions
 * below take a region as an int32_t holding one of these values; a single-point function given
 * any other value uses the rectangle, a batch function returns ::TK_ERROR_INVALID_ARGUMENT.
 */
typedef enum tk_region {
  TK_REGION_RECTANGLE = 0, /**< longitude 72.004..137.8347 E, latitude 0.8293..55.8271 N */
  TK_REGION_PRECISE = 1    /**< mainland China and its coastal waters */
} tk_region;

/** True where the WGS-84 → GCJ-02 transform of `region` moves the point `wgs`. */
TK_API bool tk_orb_coor_transform_contains(tk_coordinate wgs, int32_t region);
/** tk_orb_coor_transform_transformFromWGSToGCJ() in `region`. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromWGSToGCJ_inRegion(tk_coordinate wgs, int32_t region);
/** tk_orb_coor_transform_transformFromGCJToWGS() undoing the transform of `region`. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromGCJToWGS_inRegion(tk_coordinate gcj, int32_t region);
/** tk_orb_coor_transform_transformFromWGSToBaidu() in `region`. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromWGSToBaidu_inRegion(tk_coordinate wgs, int32_t region);
/** tk_orb_coor_transform_transformFromBaiduToWGS() in `region`. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGS_inRegion(tk_coordinate bd, int32_t region);
/** tk_orb_coor_transform_transformFromGCJToWGSPrecise() undoing the transform of `region`. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromGCJToWGSPrecise_inRegion(tk_coordinate gcj, int32_t region);
/** tk_orb_coor_transform_transformFromBaiduToWGSPrecise() undoing the transform of `region`. */
TK_API tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGSPrecise_inRegion(tk_coordinate bd, int32_t region);
TK_API tk_status tk_orb_coor_transform_transformFromGCJToWGSPrecise_batch_inRegion(const tk_coordinate* in,
                                                                                   tk_coordinate* out, size_t count,
                                                                                   int32_t region);
TK_API tk_status tk_orb_coor_transform_transformFromBaiduToWGSPrecise_batch_inRegion(const tk_coordinate* in,
                                                                                     tk_coordinate* out,
                                                                                     size_t count, int32_t region);
/** The batch forms of the four above, as the batch functions above. */
TK_API tk_status tk_orb_coor_transform_transformFromWGSToGCJ_batch_inRegion(const tk_coordinate* in,
                                                                            tk_coordinate* out, size_t count,
                                                                            int32_t region);
TK_API tk_status tk_orb_coor_transform_transformFromGCJToWGS_batch_inRegion(const tk_coordinate* in,
                                                                            tk_coordinate* out, size_t count,
                                                                            int32_t region);
TK_API tk_status tk_orb_coor_transform_transformFromWGSToBaidu_batch_inRegion(const tk_coordinate* in,
                                                                              tk_coordinate* out, size_t count,
                                                                              int32_t region);
TK_API tk_status tk_orb_coor_transform_transformFromBaiduToWGS_batch_inRegion(const tk_coordinate* in,
                                                                              tk_coordinate* out, size_t count,
                                                                              int32_t region);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name Version: TkVersion */
/** @{ */

/** `sdkVersion` — for example "0.1.0"; static storage. Any thread. */
TK_API const char* tk_version_sdkVersion(void);
/** `buildNumber` — static storage. Any thread. */
TK_API const char* tk_version_buildNumber(void);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name Network: NetworkChecker */
/** @{ */

/** `isNetworkAvailable` — whether the routing state offers a way out now; no traffic is
 *  sent. Any thread. */
TK_API bool tk_network_checker_isNetworkAvailable(void);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name The main queue
 *
 * Every callback runs on the process's main queue. A host either hands its main thread to the
 * kit (tk_main_queue_run(), stopped by tk_main_queue_stop()) or keeps its own loop, sleeps on
 * tk_main_queue_fd() for tk_main_queue_timeout_ms(), and calls tk_main_queue_poll() when it
 * wakes. The first thread that drives the queue is the main thread for good: the driving
 * calls from any other thread, like those inside a callback, return at once (0 or false)
 * without running anything, so handlers never run on two threads at once; their `_checked`
 * forms say which refusal it was.
 */
/** @{ */

/** Work for tk_main_queue_async(). */
typedef void (*tk_work_fn)(void* context);
/** A condition for tk_main_queue_run_until(). */
typedef bool (*tk_predicate_fn)(void* context);

/** Posts `work(context)` to run on the main thread, after the work already posted. Any thread. */
TK_API tk_status tk_main_queue_async(tk_work_fn work, void* context);
/** Runs the queue until tk_main_queue_stop(). */
TK_API void tk_main_queue_run(void);
/** Runs ready and arriving work for `seconds`; returns the number of handlers run. */
TK_API size_t tk_main_queue_run_for(double seconds);
/** Runs until `predicate(context)` is true (checked after each handler) or `timeoutSeconds`
 *  pass; returns whether it became true. A NULL predicate returns false at once. */
TK_API bool tk_main_queue_run_until(tk_predicate_fn predicate, void* context, double timeoutSeconds);
/** Runs the work that is ready now, without blocking; returns the number of handlers run. */
TK_API size_t tk_main_queue_poll(void);
/** The four driving calls above, saying why they ran nothing: ::TK_OK when the queue ran,
 *  ::TK_ERROR_WRONG_THREAD from a thread other than the main thread (once a thread has driven
 *  the queue), ::TK_ERROR_NESTED from inside a callback, ::TK_ERROR_NULL_ARGUMENT for a NULL
 *  predicate; in every refusal no handler runs and nothing changes. What the plain call
 *  returns (the number of handlers run, whether the predicate held) goes to the optional
 *  `handled` or `held` (NULL: not wanted; 0 or false after a refusal). */
TK_API tk_status tk_main_queue_run_checked(void);
/** tk_main_queue_run_for() with a status; see tk_main_queue_run_checked(). */
TK_API tk_status tk_main_queue_run_for_checked(double seconds, size_t* handled);
/** tk_main_queue_run_until() with a status; see tk_main_queue_run_checked(). */
TK_API tk_status tk_main_queue_run_until_checked(tk_predicate_fn predicate, void* context, double timeoutSeconds,
                                                 bool* held);
/** tk_main_queue_poll() with a status, for a host's loop; see tk_main_queue_run_checked(). */
TK_API tk_status tk_main_queue_poll_checked(size_t* handled);
/** Makes a running tk_main_queue_run() return. May be called from a callback. */
TK_API void tk_main_queue_stop(void);
/** Whether the calling thread is the main thread. */
TK_API bool tk_main_queue_is_main_thread(void);
/** For a host with its own loop: a descriptor, the same for the life of the process, that is
 *  readable (level-triggered) while work is ready to run. Wait for it (poll(), epoll, GLib, ...)
 *  with tk_main_queue_timeout_ms() of the moment and call tk_main_queue_poll() when either
 *  wakes you. -1 if the kit could not make one. Any thread. */
TK_API int tk_main_queue_fd(void);
/** How long, in milliseconds, a host may sleep before the kit's next timer falls due: 0 when
 *  work is ready, -1 when nothing is pending at all. Any thread. */
TK_API int tk_main_queue_timeout_ms(void);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name Location providers: LocationServices
 *
 * Where the fixes of every facade come from, process-wide. The default is the automatic
 * choice: gpsd on localhost:2947 when it answers and reports a device, otherwise GeoClue2 when
 * it is on the system bus (the choice is logged). Sessions already running keep their old
 * provider until they stop. Call on the main thread.
 */
/** @{ */

/** Returns to the default provider, the automatic choice of gpsd or GeoClue2. */
TK_API tk_status tk_location_services_use_default(void);
/** Takes fixes from gpsd at `host` (NULL: "localhost") and `port` (0: 2947). gpsd not
 *  answering is reported through `onLocationErrorWithMsg` once a session starts; the kit keeps
 *  trying to reconnect. */
TK_API tk_status tk_location_services_use_gpsd(const char* host, uint16_t port);
/** Replays the NMEA log at `path` (GGA, RMC, GSA), paced by its time stamps divided by
 *  `speedFactor` (0 or less: as fast as possible). A missing file is reported when a session
 *  starts, through `onLocationErrorWithMsg`. */
TK_API tk_status tk_location_services_use_nmea_replay(const char* path, double speedFactor);
/** GeoClue2's options (`GeoclueLocationProvider::Options`). Later versions may add members;
 *  the kit reads none past `size`. */
typedef struct tk_geoclue_options {
  size_t size;             /**< sizeof(tk_geoclue_options) as the application was built with */
  const char* busAddress;  /**< a D-Bus address; NULL or "" for the system bus */
  const char* desktopId;   /**< the desktop id GeoClue authorises; NULL or "" for the bundle's identifier */
  double desiredAccuracy;  /**< metres; zero or negative: what the sessions ask for (the best GeoClue has) */
  double distanceFilter;   /**< metres; zero or negative: what the sessions ask for (3 m) */
} tk_geoclue_options;

/** Options with every member at its default, `size` set. */
TK_API tk_geoclue_options tk_geoclue_options_make(void);
/** Takes fixes from GeoClue2 with `options` (NULL: the defaults). */
TK_API tk_status tk_location_services_use_geoclue(const tk_geoclue_options* options);
/** The automatic choice of gpsd at `gpsdHost` (NULL: "localhost") and `gpsdPort` (0: 2947), else
 *  GeoClue2 with `geoclue` (NULL: the defaults); each probe waits at most `probeTimeoutSeconds`
 *  (0 or less: 1.5 s). */
TK_API tk_status tk_location_services_use_automatic(const char* gpsdHost, uint16_t gpsdPort,
                                                    const tk_geoclue_options* geoclue, double probeTimeoutSeconds);
/** The authorisation status the current provider answers. */
TK_API tk_authorization_status tk_location_services_authorizationStatus(void);

/** A provider driven by hand (tests, demos): the application pushes fixes and errors. */
typedef struct tk_scripted_location_provider tk_scripted_location_provider;

/** Makes a new scripted provider the process's provider (authorised when in use) and returns
 *  a handle to drive it, owned by the caller: release it with
 *  tk_scripted_location_provider_release(). NULL only when out of memory. */
TK_API tk_scripted_location_provider* tk_location_services_use_scripted(void);
/** Releases the handle; the provider stays installed until another is chosen. NULL is ignored. */
TK_API void tk_scripted_location_provider_release(tk_scripted_location_provider* provider);
/** Delivers `location` to the sessions listening now, synchronously (their callbacks may run
 *  before this returns); dropped while nobody listens. */
TK_API tk_status tk_scripted_location_provider_pushLocation(tk_scripted_location_provider* provider,
                                                            const tk_location* location);
/** Reports a location error (`domain`, `code`, `description`) to the sessions listening now. */
TK_API tk_status tk_scripted_location_provider_pushError(tk_scripted_location_provider* provider, const char* domain,
                                                         long code, const char* description);
/** Sets the authorisation status the provider answers. */
TK_API tk_status tk_scripted_location_provider_setAuthorizationStatus(tk_scripted_location_provider* provider,
                                                                      tk_authorization_status status);
/** Whether a session is listening to the provider now. */
TK_API bool tk_scripted_location_provider_isUpdating(const tk_scripted_location_provider* provider);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name Geofences: GeofenceMonitor
 *
 * A monitor watches fences, circles and polygons, on the device's own fixes: no service, no
 * network. Fixes come from the application (tk_geofence_monitor_evaluate()) or from the
 * process's location source once the monitor is attached to it (tk_geofence_monitor_attach()):
 * gpsd, GeoClue2, a replayed NMEA log or a scripted source. A fence may be drawn in WGS-84,
 * GCJ-02 or BD-09; each fix is converted into the fence's datum before it is tested.
 *
 * A fix counts towards an exit only when its distance to the fence less its accuracy passes the
 * exit band (by default the larger of a tenth of the radius and 20 m; for a polygon, of the
 * radius of the circle of the same area), and the exit is reported after `exitConfirmations`
 * such fixes in a row (2 by default): a device standing still near the edge, or one fix that
 * jumps away claiming a good accuracy, makes no exit. Call on the main thread, except
 * tk_geofence_monitor_evaluate(); events arrive on the main thread.
 */
/** @{ */

/** What happened between the device and a fence; bits, so that a set of them fits in one
 *  `uint32_t`. */
typedef enum tk_geofence_transition {
  TK_GEOFENCE_ENTER = 1, /**< the device came inside */
  TK_GEOFENCE_EXIT = 2,  /**< the device left, beyond the exit band, confirmed */
  TK_GEOFENCE_DWELL = 4  /**< the device stayed inside for the loitering delay */
} tk_geofence_transition;

/* A fence's datum is a ::tk_datum. */

/** How a fence is watched (`Geofence` in C++). Start from tk_geofence_options_make(). */
typedef struct tk_geofence_options {
  /** `sizeof(tk_geofence_options)` as the application was built with
   *  (TK_GEOFENCE_OPTIONS_SIZE): members past it take their defaults. */
  size_t size;
  /** The fence's datum, a ::tk_datum (default WGS-84). */
  int32_t datum;
  /** The transitions reported, ::tk_geofence_transition bits (default enter and exit). */
  uint32_t transitions;
  /** Seconds inside, on the fixes' time stamps, before a dwell (default 0). */
  double loiteringDelay;
  /** Seconds after adding (wall clock) when the fence is dropped; INFINITY (the default): never. */
  double expiry;
  /** Whether a device inside at the first fix after adding is reported as entering (default
   *  true), or taken in silently, without a dwell for that stay. */
  bool initialTrigger;
  /** Metres beyond the edge a fix must lie to count towards an exit; negative or NaN (the
   *  default -1): the default band. */
  double exitBand;
  /** Fixes in a row beyond the band that make an exit, at least 1 (default 2). */
  int32_t exitConfirmations;
} tk_geofence_options;

/** The value of tk_geofence_options's `size` member for this header. */
#define TK_GEOFENCE_OPTIONS_SIZE sizeof(tk_geofence_options)

/** The default options, `size` set. Any thread. */
TK_API tk_geofence_options tk_geofence_options_make(void);

/** One transition of one fence, lent to the delegate for the duration of the call. */
typedef struct tk_geofence_event {
  const char* id;       /**< the fence's id */
  int32_t transition;   /**< one ::tk_geofence_transition */
  tk_location location; /**< the fix that caused it, WGS-84 */
  int64_t time;         /**< when: the fix's time stamp, milliseconds since the Unix epoch */
} tk_geofence_event;

/** What the application implements to hear a monitor (`GeofenceDelegate`), copied as
 *  tk_location_delegate is, with the same rules for `size`, NULL members and `releaseContext`
 *  (which runs once the monitor lets go of the delegate). */
typedef struct tk_geofence_delegate {
  /** `sizeof(tk_geofence_delegate)` as the application was built with (TK_GEOFENCE_DELEGATE_SIZE). */
  size_t size;
  /** Passed back as the first argument of every member. The kit never reads it. */
  void* context;
  /** A fence's transition. The events of one fix arrive together: exits, then entries, then
   *  dwells, each kind in the order of the fences' ids. */
  void (*onReceivedGeofenceEvent)(void* context, const tk_geofence_event* event);
  /** The source the monitor is attached to failed; `msg` is its description. */
  void (*onGeofenceSourceError)(void* context, const char* msg);
  /** See tk_location_delegate's `releaseContext`. May be NULL. */
  void (*releaseContext)(void* context);
} tk_geofence_delegate;

/** The value of tk_geofence_delegate's `size` member for this header. */
#define TK_GEOFENCE_DELEGATE_SIZE sizeof(tk_geofence_delegate)

/** The application's handle of a `GeofenceMonitor`. */
typedef struct tk_geofence_monitor tk_geofence_monitor;

/** A monitor with no fences, hearing `delegate` (copied; NULL: events are dropped). NULL when
 *  the table's `size` is too small, off the main thread, or out of memory. Destroy it with
 *  tk_geofence_monitor_destroy(). */
TK_API tk_geofence_monitor* tk_geofence_monitor_create(const tk_geofence_delegate* delegate);
/** Detaches the monitor and destroys it (off the main thread: in the main thread's next turn).
 *  Allowed inside one of its callbacks. NULL is ignored. */
TK_API void tk_geofence_monitor_destroy(tk_geofence_monitor* monitor);
/** Watches a circle of `radius` metres around `center`, in place of a fence with the same `id`,
 *  from the next fix on. `options` NULL: the defaults. ::TK_ERROR_INVALID_ARGUMENT for an empty
 *  id, a coordinate out of range, a radius not above 0, a circle reaching a pole or crossing the
 *  180th meridian, or options out of range (the kit's log says which). */
TK_API tk_status tk_geofence_monitor_addCircle(tk_geofence_monitor* monitor, const char* id, tk_coordinate center,
                                               double radius, const tk_geofence_options* options);
/** Watches a polygon: the ring `ring[0..ringCount)` less `holeCount` holes, hole i being
 *  `holes[i][0..holeCounts[i])` (`holes` and `holeCounts` may be NULL when `holeCount` is 0).
 *  Each ring needs three vertices (repeating the first at the end is allowed) and some area;
 *  edges are straight in latitude and longitude. Otherwise as tk_geofence_monitor_addCircle(). */
TK_API tk_status tk_geofence_monitor_addPolygon(tk_geofence_monitor* monitor, const char* id,
                                                const tk_coordinate* ring, size_t ringCount,
                                                const tk_coordinate* const* holes, const size_t* holeCounts,
                                                size_t holeCount, const tk_geofence_options* options);
/** Stops watching the fence `id`; ::TK_ERROR_INVALID_ARGUMENT when there is none. */
TK_API tk_status tk_geofence_monitor_removeGeofence(tk_geofence_monitor* monitor, const char* id);
/** Stops watching every fence. */
TK_API tk_status tk_geofence_monitor_removeAllGeofences(tk_geofence_monitor* monitor);
/** The fences watched now; 0 for NULL. */
TK_API size_t tk_geofence_monitor_geofenceCount(const tk_geofence_monitor* monitor);
/** Whether the device is inside the fence `id` as far as the monitor knows. */
TK_API bool tk_geofence_monitor_isInside(const tk_geofence_monitor* monitor, const char* id);
/** Tests one fix (WGS-84); a fix without a position is ignored. On the main thread its events
 *  are delivered before this returns; from any other thread the fix is tested in the main
 *  thread's next turn. Any thread. */
TK_API tk_status tk_geofence_monitor_evaluate(tk_geofence_monitor* monitor, const tk_location* fix);
/** Takes the fixes of the process's location source (see Location providers) from now on,
 *  starting it if it was idle; its errors reach `onGeofenceSourceError`. */
TK_API tk_status tk_geofence_monitor_attach(tk_geofence_monitor* monitor);
/** Stops taking the source's fixes; the source stops when nothing else listens to it. */
TK_API tk_status tk_geofence_monitor_detach(tk_geofence_monitor* monitor);

/** @} */
/* ---------------------------------------------------------------------------------------- */
/** @name The host's information dictionary: Bundle main
 *
 * The keys a phone application would put in its Info.plist, for example
 * "NSLocationWhenInUseUsageDescription" (needed before any location session) and
 * "UIBackgroundModes". Values are copied. Any thread.
 */
/** @{ */

/** Sets `key` to a string. */
TK_API tk_status tk_bundle_main_setObject_string(const char* key, const char* value);
/** Sets `key` to a list of `count` strings; `values` may be NULL when `count` is 0. */
TK_API tk_status tk_bundle_main_setObject_strings(const char* key, const char* const* values, size_t count);
/** Sets `key` to a number. */
TK_API tk_status tk_bundle_main_setObject_number(const char* key, double value);
/** Sets `key` to a Boolean. */
TK_API tk_status tk_bundle_main_setObject_bool(const char* key, bool value);
/** Removes `key`; a missing key is not an error. */
TK_API tk_status tk_bundle_main_removeObject(const char* key);

/** @} */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TOVIK_TOVIK_C_H */
