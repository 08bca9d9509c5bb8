/* Transforms, version and the main queue through the C interface. */
#include <math.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <tovik/tovik_c.h>

#include "c_check.h"
#include "suites.h"

/* Reference values are given to 1e-9 degree; allow for their rounding. */
#define DEGREES 1.5e-9

typedef tk_coordinate (*transform_fn)(tk_coordinate);
typedef tk_status (*batch_fn)(const tk_coordinate*, tk_coordinate*, size_t);

static tk_coordinate at(double latitude, double longitude) {
  tk_coordinate c = {latitude, longitude};
  return c;
}

void test_transforms_match_reference_values(void) {
  static const struct {
    const char* name;
    transform_fn transform;
    tk_coordinate in;
    tk_coordinate expected;
  } rows[] = {
      {"wgs->gcj", tk_orb_coor_transform_transformFromWGSToGCJ, {39.908722, 116.397499}, {39.910125500, 116.403742575}},
      {"wgs->gcj outside", tk_orb_coor_transform_transformFromWGSToGCJ, {48.85, 2.35}, {48.85, 2.35}},
      {"wgs->gcj on the west edge", tk_orb_coor_transform_transformFromWGSToGCJ, {30.0, 72.004},
       {29.996900344, 72.007885971}},
      {"gcj->wgs", tk_orb_coor_transform_transformFromGCJToWGS, {39.910125500, 116.403742575},
       {39.908725506, 116.397497916}},
      {"gcj->bd", tk_orb_coor_transform_transformFromGCJToBaidu, {39.910125500, 116.403742575},
       {39.916464747, 116.410115569}},
      {"bd->gcj", tk_orb_coor_transform_transformFromBaiduToGCJ, {39.916464747, 116.410115569},
       {39.910125154, 116.403743016}},
      {"wgs->bd", tk_orb_coor_transform_transformFromWGSToBaidu, {39.908722, 116.397499}, {39.916464747, 116.410115569}},
      {"bd->wgs", tk_orb_coor_transform_transformFromBaiduToWGS, {39.916464747, 116.410115569},
       {39.908725160, 116.397498357}},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    const tk_coordinate out = rows[i].transform(rows[i].in);
    if (fabs(out.latitude - rows[i].expected.latitude) > DEGREES ||
        fabs(out.longitude - rows[i].expected.longitude) > DEGREES) {
      fprintf(stderr, "%s: got (%.9f, %.9f)\n", rows[i].name, out.latitude, out.longitude);
      ++c_check_failures;
    }
  }
  CHECK_NEAR(tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2(39.9, 31.2, 116.4, 121.5), 1071286.452,
             1e-3);
  CHECK_NEAR(tk_orb_coor_transform_distanceByPointWithPoint1_point2(at(39.9, 116.4), at(31.2, 121.5)), 1071286.452,
             1e-3);
  CHECK_NEAR(tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2(0, 0, 0, 180), 20015099.362, 1e-3);
}

/* A track through Beijing and beyond the region, long enough to span several internal
 * chunks, including NaN. */
static void make_track(tk_coordinate* points, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    points[i] = at(39.0 + 0.013 * (double)(i % 900), 116.0 + 0.029 * (double)(i % 700));
  }
  points[7] = at(48.85, 2.35);
  points[count - 1] = at(NAN, 116.0);
}

void test_batch_transforms_equal_single_point(void) {
  static const struct {
    const char* name;
    batch_fn batch;
    transform_fn single;
  } rows[] = {
      {"wgs->gcj", tk_orb_coor_transform_transformFromWGSToGCJ_batch, tk_orb_coor_transform_transformFromWGSToGCJ},
      {"gcj->wgs", tk_orb_coor_transform_transformFromGCJToWGS_batch, tk_orb_coor_transform_transformFromGCJToWGS},
      {"gcj->bd", tk_orb_coor_transform_transformFromGCJToBaidu_batch, tk_orb_coor_transform_transformFromGCJToBaidu},
      {"bd->gcj", tk_orb_coor_transform_transformFromBaiduToGCJ_batch, tk_orb_coor_transform_transformFromBaiduToGCJ},
      {"wgs->bd", tk_orb_coor_transform_transformFromWGSToBaidu_batch, tk_orb_coor_transform_transformFromWGSToBaidu},
      {"bd->wgs", tk_orb_coor_transform_transformFromBaiduToWGS_batch, tk_orb_coor_transform_transformFromBaiduToWGS},
  };
  enum { kCount = 1300 };
  tk_coordinate* in = malloc(kCount * sizeof *in);
  tk_coordinate* out = malloc(kCount * sizeof *out);
  tk_coordinate* in_place = malloc(kCount * sizeof *in_place);
  make_track(in, kCount);
  for (size_t r = 0; r < sizeof rows / sizeof rows[0]; ++r) {
    memcpy(in_place, in, kCount * sizeof *in);
    CHECK(rows[r].batch(in, out, kCount) == TK_OK);
    CHECK(rows[r].batch(in_place, in_place, kCount) == TK_OK);
    int mismatches = 0;
    for (size_t i = 0; i < kCount; ++i) {
      const tk_coordinate one = rows[r].single(in[i]);
      const bool both_nan = isnan(one.latitude) && isnan(out[i].latitude) && isnan(in_place[i].latitude);
      const bool close = fabs(one.latitude - out[i].latitude) <= 1e-12 &&
                         fabs(one.longitude - out[i].longitude) <= 1e-12 &&
                         memcmp(&out[i], &in_place[i], sizeof out[i]) == 0;
      mismatches += !(both_nan || close);
    }
    if (mismatches > 0) {
      fprintf(stderr, "%s: %d of %d batch points differ from the single-point transform\n", rows[r].name,
              mismatches, kCount);
      ++c_check_failures;
    }
  }
  CHECK(tk_orb_coor_transform_transformFromWGSToGCJ_batch(NULL, NULL, 0) == TK_OK);
  CHECK(tk_orb_coor_transform_transformFromWGSToGCJ_batch(NULL, out, 1) == TK_ERROR_NULL_ARGUMENT);
  CHECK(tk_orb_coor_transform_transformFromWGSToGCJ_batch(in, NULL, 1) == TK_ERROR_NULL_ARGUMENT);
  free(in);
  free(out);
  free(in_place);
}

void test_version_and_status_texts(void) {
  CHECK_STR(tk_version_sdkVersion(), TOVIK_EXPECTED_VERSION);
  CHECK(tk_version_buildNumber() != NULL && strlen(tk_version_buildNumber()) > 0);
  /* Stable storage: the same pointer every time. */
  CHECK(tk_version_sdkVersion() == tk_version_sdkVersion());
  for (int status = TK_OK; status <= TK_ERROR_INTERNAL; ++status) {
    CHECK(strcmp(tk_status_description((tk_status)status), "unknown status") != 0);
  }
  CHECK_STR(tk_status_description((tk_status)99), "unknown status");
}

typedef struct queue_log {
  char order[16];
  size_t length;
} queue_log;

static void append(queue_log* log, char mark) {
  if (log->length + 1 < sizeof log->order) {
    log->order[log->length++] = mark;
    log->order[log->length] = '\0';
  }
}

static void work_a(void* context) { append(context, 'a'); }
static void work_b(void* context) { append(context, 'b'); }

static void work_posting_more(void* context) {
  append(context, 'p');
  CHECK(tk_main_queue_poll() == 0); /* refused: the queue does not nest */
  CHECK(tk_main_queue_async(work_a, context) == TK_OK);
}

static void work_stopping(void* context) {
  append(context, 's');
  tk_main_queue_stop();
}

void test_main_queue_runs_posted_work_in_order(void) {
  queue_log log = {{0}, 0};
  CHECK(tk_main_queue_async(work_a, &log) == TK_OK);
  CHECK(tk_main_queue_async(work_posting_more, &log) == TK_OK);
  CHECK(tk_main_queue_async(work_b, &log) == TK_OK);
  tk_main_queue_poll();
  CHECK(tk_main_queue_is_main_thread());
  /* Work posted by work runs after the work that was already waiting. */
  CHECK(strncmp(log.order, "apb", 3) == 0);
  tk_main_queue_poll();
  CHECK_STR(log.order, "apba");

  /* run() returns once a handler stops the queue; the queue works again afterwards. */
  CHECK(tk_main_queue_async(work_stopping, &log) == TK_OK);
  tk_main_queue_run();
  CHECK_STR(log.order, "apbas");
  CHECK(tk_main_queue_async(work_b, &log) == TK_OK);
  tk_main_queue_poll();
  CHECK_STR(log.order, "apbasb");
  CHECK(tk_main_queue_async(NULL, &log) == TK_ERROR_NULL_ARGUMENT);
  CHECK(!tk_main_queue_run_until(NULL, NULL, 1.0));
}
