"""A camera streamed through the Python module velqora, as a script sees it:
events delivered against the camera's own count, batches the camera
dropped, and CPU per event (time.process_time: every thread of the process,
the simulated camera's own included; time.thread_time: the Python side).

    PYTHONPATH=build/python /usr/bin/python3 bench/bench_python_camera.py \
        KVSIM-EVK4-0001 [--seconds 30] [--batch-us 10000] [--rate 50000000]

--rate sets a simulated camera's event rate (velqora.simulate); the camera's
own count is then the simulator's events streamed, else the sum of its
per-second statistics.
"""

import argparse
import time

import numpy as np
import velqora


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("serial")
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--batch-us", type=int, default=10_000)
    parser.add_argument("--rate", type=int, default=None)
    args = parser.parse_args()

    with velqora.open_camera(args.serial) as cam:
        simulated = True
        try:
            before = velqora.simulate(cam, events_per_s=args.rate)
        except ValueError:
            simulated = False
            if args.rate is not None:
                raise SystemExit(f"--rate is for simulated cameras; {args.serial} is not one")
        cpu0, py0, wall0 = time.process_time(), time.thread_time(), time.perf_counter()
        delivered = edges = 0
        batch_sizes = []
        with cam.stream(args.batch_us, seconds=args.seconds) as stream:
            for batch in stream:
                n = len(batch.events)
                delivered += n
                edges += len(batch.triggers)
                batch_sizes.append(n)
                # Touch the data as a script would: the newest time.
                if n:
                    int(batch.events["t"][-1])
            batches, dropped = stream.batches, stream.dropped
        cpu = time.process_time() - cpu0
        py = time.thread_time() - py0
        wall = time.perf_counter() - wall0
        if simulated:
            own = velqora.simulate(cam)["events_streamed"] - before["events_streamed"]
        else:
            own = None

    print(f"serial: {args.serial}")
    print(f"seconds: {args.seconds}")
    print(f"batch_us: {args.batch_us}")
    print(f"wall_s: {wall:.2f}")
    print(f"batches: {batches}")
    print(f"batches_dropped: {dropped}")
    print(f"events_delivered: {delivered}")
    if own is not None:
        print(f"events_camera: {own}")
        print(f"delivered_share: {delivered / own if own else 0:.5f}")
    print(f"mev_per_s: {delivered / wall / 1e6:.2f}")
    print(f"median_batch_events: {int(np.median(batch_sizes)) if batch_sizes else 0}")
    print(f"cpu_s: {cpu:.2f}")
    print(f"cpu_ns_per_event: {cpu / delivered * 1e9 if delivered else 0:.2f}")
    print(f"python_thread_cpu_s: {py:.2f}")
    print(f"python_thread_ns_per_event: {py / delivered * 1e9 if delivered else 0:.2f}")


if __name__ == "__main__":
    main()
