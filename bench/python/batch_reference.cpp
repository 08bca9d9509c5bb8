// The yardstick of bench/python/package_bench.py: the kit's C++ batch on the points the script
// wrote, timed the same way (best of several runs over all of them into a buffer already in
// use), and its results written back for the bit-for-bit comparison.
//
//   tovik_bench_python_batch ROUTE IN OUT REPEATS
//
// ROUTE: wgs84-gcj02, gcj02-wgs84-precise, wgs84-bd09, bd09-wgs84-precise, gcj02-bd09. IN and
// OUT: raw native doubles, (lat, lon) pairs. Prints the best time per point in nanoseconds.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <vector>

#include <tovik/tovik.h>

using tovik::Coordinate;
using T = tovik::OrbCoorTransform;
using Batch = std::function<void(std::span<const Coordinate>, std::span<Coordinate>)>;

int main(int argc, char** argv) {
  const std::map<std::string, Batch> routes = {
      {"wgs84-gcj02", [](auto in, auto out) { T::transformFromWGSToGCJ(in, out); }},
      {"gcj02-wgs84-precise", [](auto in, auto out) { T::transformFromGCJToWGSPrecise(in, out); }},
      {"wgs84-bd09", [](auto in, auto out) { T::transformFromWGSToBaidu(in, out); }},
      {"bd09-wgs84-precise", [](auto in, auto out) { T::transformFromBaiduToWGSPrecise(in, out); }},
      {"gcj02-bd09", [](auto in, auto out) { T::transformFromGCJToBaidu(in, out); }},
  };
  if (argc != 5 || !routes.contains(argv[1])) {
    std::cerr << "usage: tovik_bench_python_batch ROUTE IN OUT REPEATS\n";
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
  std::vector<Coordinate> in(bytes.size() / sizeof(Coordinate));
  std::memcpy(in.data(), bytes.data(), in.size() * sizeof(Coordinate));
  std::vector<Coordinate> out(in.size());

  const Batch& batch = routes.at(argv[1]);
  double best = 1e300;
  for (int run = 0; run < std::stoi(argv[4]); ++run) {
    const auto start = std::chrono::steady_clock::now();
    batch(in, out);
    best = std::min(best, std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
  }
  std::ofstream(argv[3], std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                                 static_cast<std::streamsize>(out.size() * sizeof(Coordinate)));
  std::printf("%.3f\n", best / static_cast<double>(in.size()));
  return 0;
}
