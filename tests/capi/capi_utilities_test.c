/* Transforms, version and the main queue through the C interface. */
#include <math.h>

#include "harness.h"

/* A row's name, then its single-point and batch functions. */
#define TRANSFORMS(datums) \
#datums, tk_orb_coor_transform_transformFrom##datums, tk_orb_coor_transform_transformFrom##datums##_batch

/* Each single-point function against a reference value (given to 1e-9 degree), and its
 * batch function, out of place and in place, against the single-point function. */
void test_transforms_match_reference_values(void) {
  static const struct {
    const char* name;
    tk_coordinate (*single)(tk_coordinate);
    tk_status (*batch)(const tk_coordinate*, tk_coordinate*, size_t);
    tk_coordinate in;
    tk_coordinate expected;
  } rows[] = {
      {TRANSFORMS(WGSToGCJ), {39.908722, 116.397499}, {39.910125500, 116.403742575}},
      {TRANSFORMS(GCJToWGS), {39.910125500, 116.403742575}, {39.908725506, 116.397497916}},
      {TRANSFORMS(GCJToBaidu), {39.910125500, 116.403742575}, {39.916464747, 116.410115569}},
      {TRANSFORMS(BaiduToGCJ), {39.916464747, 116.410115569}, {39.910125154, 116.403743016}},
      {TRANSFORMS(WGSToBaidu), {39.908722, 116.397499}, {39.916464747, 116.410115569}},
      {TRANSFORMS(BaiduToWGS), {39.916464747, 116.410115569}, {39.908725160, 116.397498357}},
      /* The precise inverses give back the point of the first row. */
      {TRANSFORMS(GCJToWGSPrecise), {39.910125500, 116.403742575}, {39.908722, 116.397499}},
      {TRANSFORMS(BaiduToWGSPrecise), {39.916464747, 116.410115569}, {39.908722, 116.397499}},
  };
  /* A track through Beijing and beyond the region, long enough to span several of the
   * batch functions' chunks, with a point abroad and a NaN. */
  enum { kCount = 1300 };
  static tk_coordinate in[kCount], out[kCount], in_place[kCount];
  for (size_t i = 0; i < kCount; ++i) {
    in[i] = (tk_coordinate){39.0 + 0.013 * (double)(i % 900), 116.0 + 0.029 * (double)(i % 700)};
  }
  in[7] = (tk_coordinate){48.85, 2.35};
  in[kCount - 1] = (tk_coordinate){NAN, 116.0};
  for (size_t r = 0; r < sizeof rows / sizeof rows[0]; ++r) {
    const tk_coordinate one = rows[r].single(rows[r].in);
    CHECK_ROW(fabs(one.latitude - rows[r].expected.latitude) <= 1.5e-9 &&
                  fabs(one.longitude - rows[r].expected.longitude) <= 1.5e-9,
              rows[r].name);
    memcpy(in_place, in, sizeof in);
    CHECK_ROW(rows[r].batch(in, out, kCount) == TK_OK && rows[r].batch(in_place, in_place, kCount) == TK_OK,
              rows[r].name);
    int mismatches = 0;
    for (size_t i = 0; i < kCount; ++i) {
      const tk_coordinate each = rows[r].single(in[i]);
      const bool same =
          (isnan(each.latitude) && isnan(out[i].latitude)) ||
          (fabs(each.latitude - out[i].latitude) <= 1e-12 && fabs(each.longitude - out[i].longitude) <= 1e-12);
      mismatches += !same || memcmp(&out[i], &in_place[i], sizeof out[i]) != 0;
    }
    CHECK_ROW(mismatches == 0, rows[r].name);
  }
  CHECK(tk_orb_coor_transform_transformFromWGSToGCJ_batch(NULL, NULL, 0) == TK_OK);
  CHECK(tk_orb_coor_transform_transformFromWGSToGCJ_batch(NULL, out, 1) == TK_ERROR_NULL_ARGUMENT);
  CHECK(tk_orb_coor_transform_transformFromWGSToGCJ_batch(in, NULL, 1) == TK_ERROR_NULL_ARGUMENT);
  /* Arrays that overlap without being the same are refused, and left as they were. */
  memcpy(in_place, in, sizeof in);
  CHECK(tk_orb_coor_transform_transformFromWGSToGCJ_batch(in_place, in_place + 1, kCount - 1) ==
            TK_ERROR_INVALID_ARGUMENT &&
        tk_orb_coor_transform_transformFromGCJToWGSPrecise_batch(in_place + 600, in_place, 700) ==
            TK_ERROR_INVALID_ARGUMENT &&
        memcmp(in_place, in, sizeof in) == 0);

  /* The distance of two points (the one of four numbers is checked on another thread). */
  const tk_coordinate beijing = {39.9, 116.4}, shanghai = {31.2, 121.5};
  CHECK(fabs(tk_orb_coor_transform_distanceByPointWithPoint1_point2(beijing, shanghai) - 1071286.452) <= 1e-3);
  /* GeographicLib's JFK to Paris CDG, and tracks. */
  const tk_coordinate jfk = {40.6, -73.8}, cdg = {49.01666667, 2.55};
  CHECK(fabs(tk_orb_coor_transform_geodesicDistance(jfk, cdg) - 5853226.0) <= 0.5);
  const tk_coordinate track[] = {beijing, shanghai, beijing};
  CHECK(fabs(tk_orb_coor_transform_trackLength(track, 3) - 2 * 1071286.452) <= 2e-3);
  CHECK(tk_orb_coor_transform_geodesicTrackLength(track, 3) ==
        2 * tk_orb_coor_transform_geodesicDistance(beijing, shanghai));
  CHECK(tk_orb_coor_transform_trackLength(NULL, 5) == 0.0 && tk_orb_coor_transform_geodesicTrackLength(track, 1) == 0.0);
  CHECK(tk_orb_coor_transform_transformFromGCJToWGSPrecise_batch_inRegion(in, out, 1, 7) == TK_ERROR_INVALID_ARGUMENT);
  const tk_coordinate hong_kong = {22.2783, 114.1747};
  const tk_coordinate kept = tk_orb_coor_transform_transformFromGCJToWGSPrecise_inRegion(hong_kong, TK_REGION_PRECISE);
  CHECK(kept.latitude == hong_kong.latitude && kept.longitude == hong_kong.longitude);
}

static void work_stopping(void* context) {
  ++*(int*)context;
  CHECK(tk_main_queue_poll() == 0); /* refused: the queue does not nest */
  size_t handled = 99;
  CHECK(tk_main_queue_poll_checked(&handled) == TK_ERROR_NESTED && handled == 0);
  CHECK(tk_main_queue_run_checked() == TK_ERROR_NESTED);
  tk_main_queue_stop();
}

void test_version_status_and_main_queue(void) {
  CHECK_STR(tk_version_sdkVersion(), TOVIK_EXPECTED_VERSION);
  CHECK(tk_version_buildNumber() != NULL && strlen(tk_version_buildNumber()) > 0);
  /* Stable storage: the same pointer every time. */
  CHECK(tk_version_sdkVersion() == tk_version_sdkVersion());
  for (int s = TK_OK; s <= TK_ERROR_NESTED; ++s)
    CHECK(strcmp(tk_status_description((tk_status)s), "unknown status") != 0);
  CHECK_STR(tk_status_description((tk_status)99), "unknown status");

  /* run() returns once work stops the queue, leaving the next work for a later turn. */
  int ran = 0;
  CHECK(tk_main_queue_async(work_stopping, &ran) == TK_OK);
  CHECK(tk_main_queue_async(work_stopping, &ran) == TK_OK);
  tk_main_queue_run();
  CHECK(ran == 1 && tk_main_queue_is_main_thread());
  tk_main_queue_poll();
  CHECK(ran == 2);
  CHECK(tk_main_queue_async(NULL, &ran) == TK_ERROR_NULL_ARGUMENT && !tk_main_queue_run_until(NULL, NULL, 1.0));
  bool held = true;
  CHECK(tk_main_queue_run_until_checked(NULL, NULL, 1.0, &held) == TK_ERROR_NULL_ARGUMENT && !held);
  size_t handled = 99;
  CHECK(tk_main_queue_run_for_checked(0.0, &handled) == TK_OK);
}
