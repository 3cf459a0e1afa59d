"""Timings of the Python module velqora on one recording, as Python sees
them: open (index build or cache load), a window read at the middle of the
file (first call, then repeated), and the whole file read through slices.

    PYTHONPATH=build/python /usr/bin/python3 bench/bench_python.py FILE \
        [--window-us 1000000] [--repeat 20] [--slice-us 100000]
"""

import argparse
import statistics
import time

import velqora


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file")
    parser.add_argument("--window-us", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=20)
    parser.add_argument("--slice-us", type=int, default=100_000)
    args = parser.parse_args()

    t = time.perf_counter()
    rec = velqora.open(args.file)
    open_s = time.perf_counter() - t
    start, end = rec.start_us, rec.end_us
    if start is None:
        raise SystemExit("the recording holds no events")
    t0 = start + (end - start) // 2
    t1 = t0 + args.window_us

    t = time.perf_counter()
    events = rec.read(t0, t1)
    first_ms = (time.perf_counter() - t) * 1e3
    del events
    repeated = []
    for _ in range(args.repeat):
        t = time.perf_counter()
        events = rec.read(t0, t1)
        repeated.append((time.perf_counter() - t) * 1e3)
        del events
    window_events = len(rec.read(t0, t1))

    t = time.perf_counter()
    cpu = time.process_time()  # every thread of the process: decoding ahead included
    total = 0
    for part in rec.slices(args.slice_us):
        total += len(part)
    slices_s = time.perf_counter() - t
    slices_cpu_s = time.process_time() - cpu

    print(f"open_s: {open_s:.3f}")
    print(f"window_us: {args.window_us}")
    print(f"window_events: {window_events}")
    print(f"read_first_ms: {first_ms:.1f}")
    print(f"read_repeated_ms_median: {statistics.median(repeated):.1f}")
    print(f"read_repeated_ms_min: {min(repeated):.1f}")
    print(f"read_mev_per_s: {window_events / statistics.median(repeated) / 1e3:.1f}")
    print(f"slice_us: {args.slice_us}")
    print(f"slices_events: {total}")
    print(f"slices_s: {slices_s:.2f}")
    print(f"slices_mev_per_s: {total / slices_s / 1e6:.1f}")
    print(f"slices_cpu_ns_per_event: {slices_cpu_s * 1e9 / max(total, 1):.2f}")


if __name__ == "__main__":
    main()
