/* A small harness for the C interface's tests: checks that count failures and name the
 * line, and the canned answers of the loopback server. */
#ifndef TOVIK_TESTS_CAPI_C_CHECK_H
#define TOVIK_TESTS_CAPI_C_CHECK_H

#include <math.h>
#include <stdio.h>
#include <string.h>

extern int c_check_failures;

#define CHECK(condition)                                                             \
  do {                                                                               \
    if (!(condition)) {                                                              \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++c_check_failures;                                                            \
    }                                                                                \
  } while (0)

#define CHECK_STR(actual, expected)                                                                       \
  do {                                                                                                    \
    const char* check_actual_ = (actual);                                                                 \
    const char* check_expected_ = (expected);                                                             \
    if (check_actual_ == NULL || strcmp(check_actual_, check_expected_) != 0) {                           \
      fprintf(stderr, "%s:%d: %s is \"%s\", expected \"%s\"\n", __FILE__, __LINE__, #actual,              \
              check_actual_ ? check_actual_ : "(null)", check_expected_);                                 \
      ++c_check_failures;                                                                                 \
    }                                                                                                     \
  } while (0)

#define CHECK_NEAR(actual, expected, tolerance)                                                             \
  do {                                                                                                      \
    const double check_actual_ = (actual);                                                                  \
    const double check_expected_ = (expected);                                                              \
    if (!(fabs(check_actual_ - check_expected_) <= (tolerance))) {                                          \
      fprintf(stderr, "%s:%d: %s is %.12f, expected %.12f\n", __FILE__, __LINE__, #actual, check_actual_, \
              check_expected_);                                                                             \
      ++c_check_failures;                                                                                   \
    }                                                                                                       \
  } while (0)

/* Generous: a loopback answer takes milliseconds. */
#define C_CHECK_TIMEOUT_SECONDS 20.0

#define TRACK_PATH "/location/hub/v1/track_points"
#define GEOCODE_PATH "/location/scenario/v1/geocode"
#define PLACE_SEARCH_PATH "/location/scenario/v1/placesearch"
#define NEARBY_SEARCH_PATH "/location/scenario/v1/nearbysearch"

#define LOCATION_JSON                                                                                       \
  "{\"id\": \"R1\", \"asset\": \"A1\", \"location\": {\"timestamp\": 1700000000000,"                        \
  " \"address\": {\"name\": \"北京市东城区\", \"context\": [{\"type\": \"province\", \"name\": \"北京市\","  \
  " \"code\": \"110000\"}, {\"type\": \"district\", \"name\": \"东城区\", \"code\": \"110101\"}]},"         \
  " \"place\": {\"type\": \"poi\", \"name\": \"天安门\", \"distance\": {\"line\": 12.5}},"                 \
  " \"position\": {\"point\": {\"longitude\": 116.397, \"latitude\": 39.908}}}}"

#define TWO_PLACES_JSON                                                                                        \
  "[{\"id\": \"G1\", \"geoPoint\": \"116.397,39.908\", \"type\": \"poi\", \"name\": \"天安门\","             \
  " \"code\": \"110101\", \"address\": {\"name\": \"东城区\", \"context\": []}, \"relevance\": 0.9,"          \
  " \"distance\": 12},"                                                                                        \
  " {\"id\": \"G2\", \"geoPoint\": \"116.391,39.906\", \"type\": \"poi\", \"name\": \"中山公园\","           \
  " \"code\": \"110101\", \"categories\": [{\"id\": \"park\", \"name\": \"公园\"}],"                        \
  " \"address\": {\"name\": \"东城区\", \"context\": []}, \"relevance\": 1, \"distance\": 300.5}]"

#endif
