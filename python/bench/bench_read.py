#!/usr/bin/env python3
"""How fast a Python program reads the data stream, beside a C reader, in the same run.

The simulated tracker records at 2000 Hz (both eyes, with events) while nobody reads, so that a
backlog of several seconds waits in the library's queue; then three readers take turns at it,
each timed over its share of the samples:

  C          a C function reading float_data slots in batches (c_reader.c, compiled here)
  iterator   for s in tracker.samples(timeout=0): ... s.gaze_x[0]
  batch      tracker.read_batch(...).samples["gaze_x"][:, 0] (NumPy)

Each reader touches every sample's left gaze x. Prints samples per second per reader (the
median over the rounds), per second of the reading thread's CPU time (which a busy machine does
not distort) and per second of wall time, and each Python reader's share of the C reader's rate.

    LUMAVEX_CORE_LIBRARY=build/src/liblumavex_core.so LUMAVEX_SIM_TRACKER=build/sim/lumavex_sim_tracker \\
        /usr/bin/python3 python/bench/bench_read.py [--seconds 6] [--rounds 3] [--address 127.0.3.80]
"""
import argparse
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))  # the package beside this folder, unless installed

import lumavex  # noqa: E402
from lumavex import raw  # noqa: E402
from lumavex.sim import SimulatedTracker  # noqa: E402

HEADER_DIR = os.path.normpath(os.path.join(HERE, "..", "..", "include"))


def build_c_reader(folder):
    cc = shutil.which("cc") or shutil.which("gcc")
    out = os.path.join(folder, "c_reader.so")
    lib = raw.LIBRARY_PATH
    subprocess.run(
        [cc, "-O2", "-shared", "-fPIC", "-I", HEADER_DIR, os.path.join(HERE, "c_reader.c"), lib,
         "-Wl,-rpath," + os.path.dirname(lib), "-o", out],
        check=True,
    )
    reader = ctypes.CDLL(out)
    reader.lvx_bench_drain.restype = ctypes.c_long
    reader.lvx_bench_drain.argtypes = [ctypes.c_long]
    return reader


def read_iterator(tracker, count):
    n = 0
    total = 0.0
    for s in tracker.samples(timeout=0):
        if type(s) is lumavex.Sample:
            total += s.gaze_x[0]
            n += 1
            if n >= count:
                break
    return n


def read_batch(tracker):
    n = 0
    while True:
        batch = tracker.read_batch(max_records=1024, timeout=0)
        if len(batch) == 0:
            return n
        gaze = batch.samples["gaze_x"][:, 0]
        gaze.sum()
        n += len(gaze)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--address", default="127.0.3.80")
    parser.add_argument("--seconds", type=float, default=6.0, help="recording per round")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    readers = (
        ("C", lambda share: reader.lvx_bench_drain(share)),
        ("iterator", lambda share: read_iterator(tracker, share)),
        ("batch", lambda share: read_batch(tracker)),
    )
    cpu_rates = {name: [] for name, _ in readers}
    wall_rates = {name: [] for name, _ in readers}
    with tempfile.TemporaryDirectory() as folder:
        reader = build_c_reader(folder)
        with SimulatedTracker(args.address) as sim, sim.connect() as tracker:
            tracker.command("sample_rate 2000")
            for _ in range(args.rounds):
                tracker.start_recording(False, False, True, True)
                time.sleep(args.seconds)
                tracker.stop_recording()
                waiting = raw.lumavex_data_count(1, 0)
                line = ["round: %d samples waiting;" % waiting]
                for name, read in readers:
                    cpu0, wall0 = time.thread_time(), time.perf_counter()
                    n = read(waiting // 3)
                    cpu, wall = time.thread_time() - cpu0, time.perf_counter() - wall0
                    cpu_rates[name].append(n / cpu)
                    wall_rates[name].append(n / wall)
                    line.append("%s %d in %.1f ms (%.1f ms CPU)" % (name, n, wall * 1e3, cpu * 1e3))
                print(" ".join(line))
    print(
        "\nsamples per second, median of %d rounds of %.0f s at 2000 Hz (per CPU second of the"
        " reading thread, and per second of wall time):" % (args.rounds, args.seconds)
    )
    c = statistics.median(cpu_rates["C"])
    for name, _ in readers:
        r = statistics.median(cpu_rates[name])
        print(
            "  %-9s %11.0f  (%5.1f %% of C)   wall %11.0f"
            % (name, r, 100.0 * r / c, statistics.median(wall_rates[name]))
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
