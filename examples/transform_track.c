/* transform_track: converts a recorded track from WGS-84 to GCJ-02 and BD-09, one batch
 * call per datum, and measures its length, through the kit's C interface.
 *
 *   example_transform_track [track.csv]
 *
 * The input has a header line, then one "time,latitude,longitude" row per point (WGS-84
 * degrees), like data/beijing_walk.csv. The output is the same track as CSV with the three
 * datums side by side, then a line with the number of points and the track's length. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tovik/tovik_c.h>

typedef struct track {
  char (*times)[32];
  tk_coordinate* wgs;
  size_t count;
  size_t capacity;
} track;

static int grow(track* t) {
  const size_t capacity = t->capacity == 0 ? 64 : t->capacity * 2;
  char(*times)[32] = realloc(t->times, capacity * sizeof *times);
  if (times == NULL) {
    return 0;
  }
  t->times = times;
  tk_coordinate* wgs = realloc(t->wgs, capacity * sizeof *wgs);
  if (wgs == NULL) {
    return 0;
  }
  t->wgs = wgs;
  t->capacity = capacity;
  return 1;
}

/* Reads the whole file; reports the first bad row and returns 0. */
static int read_track(FILE* in, const char* path, track* t) {
  char line[256];
  size_t number = 0;
  while (fgets(line, sizeof line, in) != NULL) {
    ++number;
    if (number == 1 || line[0] == '\n' || line[0] == '\r') {
      continue; /* the header, or a blank line */
    }
    if (t->count == t->capacity && !grow(t)) {
      fprintf(stderr, "%s: out of memory\n", path);
      return 0;
    }
    char end = '\0';
    if (sscanf(line, "%31[^,],%lf,%lf%c", t->times[t->count], &t->wgs[t->count].latitude,
               &t->wgs[t->count].longitude, &end) < 3 ||
        (end != '\n' && end != '\r' && end != '\0')) {
      fprintf(stderr, "%s:%zu: expected \"time,latitude,longitude\", found: %s", path, number, line);
      return 0;
    }
    ++t->count;
  }
  return 1;
}

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "data/beijing_walk.csv";
  FILE* in = fopen(path, "r");
  if (in == NULL) {
    perror(path);
    return 1;
  }
  track t = {NULL, NULL, 0, 0};
  const int ok = read_track(in, path, &t);
  fclose(in);
  if (!ok || t.count == 0) {
    if (ok) {
      fprintf(stderr, "%s: no points\n", path);
    }
    free(t.times);
    free(t.wgs);
    return 1;
  }

  /* One call per datum converts the whole track, on the CPU's vector unit. */
  tk_coordinate* gcj = malloc(t.count * sizeof *gcj);
  tk_coordinate* bd = malloc(t.count * sizeof *bd);
  int status = gcj != NULL && bd != NULL &&
               tk_orb_coor_transform_transformFromWGSToGCJ_batch(t.wgs, gcj, t.count) == TK_OK &&
               tk_orb_coor_transform_transformFromGCJToBaidu_batch(gcj, bd, t.count) == TK_OK;
  if (status) {
    double length = 0.0;
    printf("time,wgs_latitude,wgs_longitude,gcj_latitude,gcj_longitude,bd_latitude,bd_longitude\n");
    for (size_t i = 0; i < t.count; ++i) {
      printf("%s,%.7f,%.7f,%.7f,%.7f,%.7f,%.7f\n", t.times[i], t.wgs[i].latitude, t.wgs[i].longitude,
             gcj[i].latitude, gcj[i].longitude, bd[i].latitude, bd[i].longitude);
      if (i > 0) {
        length += tk_orb_coor_transform_distanceByPointWithPoint1_point2(t.wgs[i - 1], t.wgs[i]);
      }
    }
    printf("# %zu points, %.1f m\n", t.count, length);
  } else {
    fprintf(stderr, "transform failed\n");
  }
  free(gcj);
  free(bd);
  free(t.times);
  free(t.wgs);
  return status ? 0 : 1;
}
