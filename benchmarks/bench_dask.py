#!/usr/bin/env python3
"""Block-wise readout with pelorin_dask: sequential against Dask worker processes.

Workload: blocks of 1000 channels of Poisson dark counts at 1 MHz, each block its own
time slice, read out by the camera and by the MultiPMT module of the examples. Each
block draws its PEs where it runs (seeded by its index), builds its model, reads out
and returns its record array, as the README recommends; the camera's blocks span
2 ms, the module's 1 ms, so that every block is about a second of work or more.

For each model the same blocks are read out by pelorin_dask.read_out_blocks (the
record arrays gathered in block order, without read_out's final concatenation, a
memory copy alike on every path)
1. sequentially in this process (with its CPU time against the wall time: below
   100 % the machine was busy with other work),
2. on a LocalCluster of 1 worker process (1 thread): the difference to 1, divided by
   the number of blocks, is Dask's overhead per block (submission, scheduling,
   moving the record array to this process); Dask's task stream gives the time the
   worker spent computing,
3. on a LocalCluster of 2 worker processes: the speed-up over 1, and the share of
   the wall time the two workers spent computing.
All three must give identical arrays. Clusters are started, and their workers have
imported pelorin, before the clock runs; the three paths take turns, each figure the
least of --repeat runs. Last, blocks without PEs give the fixed cost per block.
--quick (100 channels, 50 us blocks, one run) serves as a smoke test.

Usage: python3 benchmarks/bench_dask.py [--quick] [--repeat N]
(needs the dask extra: pip install ".[dask]")
"""

import argparse
import contextlib
import functools
import logging
import os
import pathlib
import sys
import time

import numpy as np
from distributed import Client, LocalCluster, get_task_stream

import pelorin
import pelorin_dask

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
from camera_readout import camera_arguments  # noqa: E402
from multipmt_readout import module_arguments  # noqa: E402

RATE = 1e6  # Hz per channel


def dark_counts(block, channels, duration):
    """The PEs of one time slice of `duration` seconds on every channel."""
    rng = np.random.default_rng([2026, block])
    counts = rng.poisson(RATE * duration, channels)
    start = block * duration
    return np.repeat(np.arange(channels, dtype=np.int32), counts), rng.uniform(start, start + duration, counts.sum())


def run(model, blocks, client):
    """(wall, busy, arrays) of one readout; busy is the CPU time of this process (sequential)
    or the time the workers spent computing blocks (Dask's task stream)."""
    start, cpu = time.perf_counter(), time.process_time()
    with contextlib.ExitStack() as stack:
        stream = client and stack.enter_context(get_task_stream(client))
        arrays = list(pelorin_dask.read_out_blocks(model, blocks, seed=1, client=client))
    wall = time.perf_counter() - start
    if client is None:
        return wall, time.process_time() - cpu, arrays
    return wall, sum(span["stop"] - span["start"] for task in stream.data for span in task["startstops"]
                     if span["action"] == "compute"), arrays


def fastest(model, blocks, clients, repeat):
    """{workers: (wall, busy)} of the fastest of `repeat` runs each, 0 workers the sequential path;
    the runs interleave, so that a change of the machine's load hits every path alike."""
    best, expected = {}, None
    for _ in range(repeat):
        for workers, client in {0: None, **clients}.items():
            wall, busy, arrays = run(model, blocks, client)
            if expected is None:
                expected = arrays
            elif len(arrays) != len(expected) or not all(map(np.array_equal, arrays, expected)):
                sys.exit(f"check failed: {workers} workers give other records than the sequential readout")
            if workers not in best or wall < best[workers][0]:
                best[workers] = wall, busy
            del arrays
    return best, expected


def start_cluster(workers, stack):
    """A client of a new cluster whose workers have imported pelorin, and the seconds that took."""
    start = time.perf_counter()
    cluster = stack.enter_context(LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                               dashboard_address=":0", silence_logs=logging.ERROR))
    client = stack.enter_context(Client(cluster))
    client.run(lambda: __import__("pelorin_dask"))
    return client, time.perf_counter() - start


def bench(name, model, blocks, clients, repeat):
    n = len(blocks)
    pes = sum(len(block()[1]) for block in blocks)
    best, arrays = fastest(model, blocks, clients, repeat)
    (sequential, cpu), (one, one_busy), (two, two_busy) = best[0], best[1], best[2]
    records, nbytes = sum(len(a) for a in arrays), sum(a.nbytes for a in arrays)
    print(f"| {name} | {n} | {pes / n / 1e6:.2f} | {records / n / 1e6:.2f} | {nbytes / n / 1e6:.0f} "
          f"| {sequential / n:.2f} | {cpu / sequential:.0%} | {pes / sequential / 1e6:.2f} "
          f"| {one / n:.2f} | {(one - sequential) / n * 1e3:.0f} | {(one - sequential) / sequential:.1%} "
          f"| {one_busy / n:.2f} | {two / n:.2f} | {two_busy / (2 * two):.0%} | {pes / two / 1e6:.2f} "
          f"| {sequential / two:.2f} |")


def fixed_cost(model, clients, repeat, n=40):
    """Seconds per block that Dask adds for blocks without PEs: building the model, submitting,
    scheduling and gathering an empty array."""
    best, _ = fastest(model, [{}] * n, {1: clients[1]}, repeat)
    return best[0][0] / n, (best[1][0] - best[0][0]) / n


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small blocks, one run (smoke test)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure (default 3)")
    options = parser.parse_args()
    channels, camera_slice, module_slice, n_blocks = (100, 50e-6, 50e-6, 4) if options.quick else (1000, 2e-3, 1e-3, 6)
    models = [("Tarvex", pelorin_dask.ModelArguments(pelorin.Tarvex, **camera_arguments()), camera_slice),
              ("MultiPMT", pelorin_dask.ModelArguments(pelorin.MultiPMT, **module_arguments()), module_slice)]
    repeat = 1 if options.quick else options.repeat

    with contextlib.ExitStack() as stack:
        started = {workers: start_cluster(workers, stack) for workers in (1, 2)}
        clients = {workers: client for workers, (client, _) in started.items()}
        print(f"{channels} channels of {RATE / 1e6:g} MHz dark counts, {n_blocks} blocks per model; cluster start "
              + ", ".join(f"{w} worker(s) {s:.1f} s" for w, (_, s) in started.items())
              + f"; load average {os.getloadavg()[0]:.1f}")
        print("Per block: PEs, records, record array, sequential readout (its CPU share), on 1 worker (its overhead,"
              " the time the worker computed), on 2 workers (their busy share); M PEs/s over the whole run.")
        print("| model | blocks | PEs [M] | records [M] | array [MB] | sequential [s] | CPU share | M PEs/s "
              "| 1 worker [s] | overhead [ms] | overhead | computing [s] | 2 workers [s] | workers busy | M PEs/s "
              "| speed-up |")
        print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        for name, model, duration in models:
            blocks = [functools.partial(dark_counts, b, channels, duration) for b in range(n_blocks)]
            bench(name, model, blocks, clients, repeat)
        sequential, overhead = fixed_cost(models[0][1], clients, repeat)
        print(f"\nEmpty blocks: {sequential * 1e3:.1f} ms each sequentially (building the camera), "
              f"{overhead * 1e3:.1f} ms more on 1 worker")
        print(f"load average after: {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
