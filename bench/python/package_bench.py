#!/usr/bin/env python3
"""The Python package against the kit's C++ batch, in one run: 10^6 points from numpy through
tovik.transform (a new array, and into `out`) against tovik_bench_python_batch on the same
points, time per point and whether the results are the same bits; then `import tovik` in fresh
interpreters that have imported numpy already.

    PYTHONPATH=build/python python3 bench/python/package_bench.py build [ROUNDS]
"""

import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import tovik

ROUTES = [("wgs84", "gcj02", "search"), ("gcj02", "wgs84", "precise"), ("wgs84", "bd09", "search"),
          ("bd09", "wgs84", "precise"), ("gcj02", "bd09", "search")]
COUNT = 10**6


def best_per_point(run, repeats):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best / COUNT * 1e9


def main():
    build = pathlib.Path(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    reference = build / "bench/tovik_bench_python_batch"
    rng = np.random.default_rng(27)
    points = np.column_stack([rng.uniform(0.8293, 55.8271, COUNT), rng.uniform(72.004, 137.8347, COUNT)])
    print(f"{COUNT} points over the GCJ-02 rectangle, ns per point, best of {rounds} rounds of 3 runs each, "
          "the C++ batch and the package taking turns")
    print(f"{'route':<24}{'C++ batch':>10}{'numpy new':>11}{'ratio':>7}{'numpy out=':>12}{'ratio':>7}  bits")
    with tempfile.TemporaryDirectory() as scratch:
        given, taken = pathlib.Path(scratch, "in"), pathlib.Path(scratch, "out")
        for src, dst, inverse in ROUTES:
            data = tovik.transform(points, "wgs84", src) if src != "wgs84" else points
            data.tofile(given)
            name = f"{src}-{dst}" + ("-precise" if inverse == "precise" else "")
            out = np.empty_like(data)
            cpp = fresh = into = float("inf")
            for _ in range(rounds):
                cpp = min(cpp, float(subprocess.run([reference, name, given, taken, "3"], check=True,
                                                    capture_output=True, text=True).stdout))
                fresh = min(fresh, best_per_point(lambda: tovik.transform(data, src, dst, inverse=inverse), 3))
                into = min(into, best_per_point(lambda: tovik.transform(data, src, dst, inverse=inverse, out=out), 3))
            want = np.fromfile(taken).reshape(-1, 2)
            same = np.array_equal(tovik.transform(data, src, dst, inverse=inverse).view(np.uint64),
                                  want.view(np.uint64))
            print(f"{name:<24}{cpp:>10.2f}{fresh:>11.2f}{fresh / cpp:>7.2f}{into:>12.2f}{into / cpp:>7.2f}  "
                  f"{'same' if same else 'DIFFERENT'}")

    probe = "import numpy, time; t = time.perf_counter(); import tovik; print(time.perf_counter() - t)"
    times = [float(subprocess.run([sys.executable, "-c", probe], check=True, capture_output=True, text=True,
                                  env=os.environ).stdout) * 1e3 for _ in range(20)]
    print(f"import tovik after numpy, 20 fresh interpreters: median {statistics.median(times):.1f} ms, "
          f"best {min(times):.1f} ms, worst {max(times):.1f} ms")


if __name__ == "__main__":
    main()
