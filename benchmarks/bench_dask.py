#!/usr/bin/env python3
"""Block-wise readout with pelorin_dask: sequential against Dask worker processes.

Workload: blocks of 1000 channels of Poisson dark counts at 1 MHz, each block its own
time slice, read out by the camera and by the MultiPMT module of the examples. Each
block draws its PEs where it runs (seeded by its index), builds its model, reads out
and returns its record array, as the README recommends; the camera's blocks span
2 ms, the module's 1 ms, so that every block is about a second of work or more.

Three ways to take the records, each timed on every path below:
- gather: the record arrays come to this process in block order
  (pelorin_dask.read_out_blocks, without read_out's final concatenation, a memory copy
  alike on every path);
- client writes: as gather, and this process writes them to one Parquet file
  (write_parquet);
- worker writes: where a block is read out, it is written to its own Parquet file
  (write_parquet_dataset); only a file name and a count come back.
The paths:
1. sequentially in this process (with its CPU time against the wall time: below
   100 % the machine was busy with other work),
2. on a LocalCluster of 1 worker process (1 thread): the difference to 1, divided by
   the number of blocks, is Dask's overhead per block (submission, scheduling,
   moving the results to this process), given from the fastest runs and as the median
   of the differences between runs in the same turn (steadier under a changing load);
   Dask's task stream gives the time the worker spent computing,
3. on a LocalCluster of 2 worker processes: the speed-up over 1, and the share of
   the wall time the two workers spent computing.
All paths must give identical arrays, files and datasets, and the worker-written
dataset must read back as the gathered arrays, block for block. Clusters are started,
and their workers have imported pelorin, before the clock runs; the paths take turns,
each figure the least of --repeat runs. The workers run with glibc's memory settings,
as this process does: Dask starts them with MALLOC_TRIM_THRESHOLD_=65536 unless told
otherwise, which also fixes glibc's mmap threshold, so that every buffer of 128 KiB or
more is fresh memory; --dask-environment keeps that default. Files go to a fresh directory under the
system's temporary directory and are removed after each run. Last, blocks without
PEs give the fixed cost per block. --quick (100 channels, 50 us blocks, one run)
serves as a smoke test.

Usage: python3 benchmarks/bench_dask.py [--quick] [--repeat N]
(needs the dask extra: pip install ".[dask]")
"""

import argparse
import contextlib
import functools
import hashlib
import logging
import os
import pathlib
import sys
import tempfile
import time

import dask
import numpy as np
import pyarrow.parquet as pq
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


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for chunk in iter(lambda: stream.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest()


# Each mode takes the records of a readout and returns (records, what must be identical on every path).
def gather(model, blocks, client, scratch):
    arrays = list(pelorin_dask.read_out_blocks(model, blocks, seed=1, client=client))
    return sum(map(len, arrays)), arrays


def client_writes(model, blocks, client, scratch):
    path = scratch / "records.parquet"
    return pelorin_dask.write_parquet(path, model, blocks, seed=1, client=client), file_digest(path)


def worker_writes(model, blocks, client, scratch):
    directory = scratch / "parts"
    records = pelorin_dask.write_parquet_dataset(directory, model, blocks, seed=1, client=client)
    return records, [file_digest(part) for part in sorted(directory.iterdir())]


MODES = {"gather": gather, "client writes": client_writes, "worker writes": worker_writes}


def same(a, b):
    if isinstance(a, list) and a and isinstance(a[0], np.ndarray):
        return len(a) == len(b) and all(map(np.array_equal, a, b))
    return a == b


def run(mode, model, blocks, client, scratch):
    """(wall, busy, records, result) of one readout; busy is the CPU time of this process
    (sequential) or the time the workers spent computing blocks (Dask's task stream)."""
    start, cpu = time.perf_counter(), time.process_time()
    with contextlib.ExitStack() as stack:
        stream = client and stack.enter_context(get_task_stream(client))
        records, result = mode(model, blocks, client, scratch)
    wall = time.perf_counter() - start
    if client is None:
        return wall, time.process_time() - cpu, records, result
    return wall, sum(span["stop"] - span["start"] for task in stream.data for span in task["startstops"]
                     if span["action"] == "compute"), records, result


def fastest(mode, model, blocks, clients, repeat):
    """{workers: (wall, busy)} of the fastest of `repeat` runs each, 0 workers the sequential path; the
    median over the repeats of (1 worker - sequential) in the same turn; the records. The paths take
    turns, so that a change of the machine's load hits every path alike."""
    best, expected, differences = {}, None, []
    for _ in range(repeat):
        walls = {}
        for workers, client in {0: None, **clients}.items():
            with tempfile.TemporaryDirectory(prefix="pelorin-bench-dask-") as scratch:
                wall, busy, records, result = run(mode, model, blocks, client, pathlib.Path(scratch))
            if expected is None:
                expected = records, result
            elif records != expected[0] or not same(result, expected[1]):
                sys.exit(f"check failed: {workers} workers give other records than the sequential readout")
            if workers not in best or wall < best[workers][0]:
                best[workers] = wall, busy
            walls[workers] = wall
            del result
        differences.append(walls[1] - walls[0])
    return best, float(np.median(differences)), expected[0]


def check_dataset(model, blocks):
    """The bytes of all record arrays; exits unless the dataset written by this process holds the
    arrays of the blocks, block for block."""
    nbytes = 0
    with tempfile.TemporaryDirectory(prefix="pelorin-bench-dask-") as scratch:
        directory = pathlib.Path(scratch) / "parts"
        pelorin_dask.write_parquet_dataset(directory, model, blocks, seed=1)
        parts = sorted(directory.iterdir())
        if len(parts) != len(blocks):
            sys.exit(f"check failed: {len(parts)} part files for {len(blocks)} blocks")
        for index, (block, part) in enumerate(zip(blocks, parts)):
            array = pelorin_dask.read_out_block(model, block, 1, index)
            expected = pelorin_dask._arrow_table(array, pelorin_dask._arrow_schema(array.dtype))
            if not pq.read_table(part).equals(expected):
                sys.exit(f"check failed: part file {part.name} does not hold block {index}'s records")
            nbytes += array.nbytes
    return nbytes


def bench(name, model, blocks, clients, repeat):
    n = len(blocks)
    pes = sum(len(block()[1]) for block in blocks)
    nbytes = check_dataset(model, blocks)
    for mode_name, mode in MODES.items():
        best, paired, records = fastest(mode, model, blocks, clients, repeat)
        (sequential, cpu), (one, one_busy), (two, two_busy) = best[0], best[1], best[2]
        print(f"| {name} | {mode_name} | {n} | {pes / n / 1e6:.2f} | {records / n / 1e6:.2f} | {nbytes / n / 1e6:.0f} "
              f"| {sequential / n:.2f} | {cpu / sequential:.0%} | {pes / sequential / 1e6:.2f} "
              f"| {one / n:.2f} | {(one - sequential) / n * 1e3:.0f} / {paired / n * 1e3:.0f} "
              f"| {(one - sequential) / sequential:.1%} / {paired / sequential:.1%} "
              f"| {one_busy / n:.2f} | {two / n:.2f} | {two_busy / (2 * two):.0%} | {pes / two / 1e6:.2f} "
              f"| {sequential / two:.2f} |", flush=True)


def fixed_cost(mode, model, clients, repeat, n=40):
    """Seconds per block that Dask adds for blocks without PEs: building the model, submitting,
    scheduling and taking an empty result."""
    best, _, _ = fastest(mode, model, [{}] * n, {1: clients[1]}, repeat)
    return best[0][0] / n, (best[1][0] - best[0][0]) / n


def start_cluster(workers, stack, dask_environment):
    """A client of a new cluster whose workers have imported pelorin, and the seconds that took."""
    start = time.perf_counter()
    environment = {} if dask_environment else {"distributed.nanny.pre-spawn-environ.MALLOC_TRIM_THRESHOLD_": None}
    with dask.config.set(environment):
        cluster = stack.enter_context(LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                                   dashboard_address=":0", silence_logs=logging.ERROR))
    client = stack.enter_context(Client(cluster))
    client.run(lambda: __import__("pelorin_dask") and __import__("pyarrow.parquet"))
    return client, time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small blocks, one run (smoke test)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure (default 3)")
    parser.add_argument("--dask-environment", action="store_true",
                        help="start the workers with Dask's MALLOC_TRIM_THRESHOLD_ instead of glibc's settings")
    options = parser.parse_args()
    channels, camera_slice, module_slice, n_blocks = (100, 50e-6, 50e-6, 4) if options.quick else (1000, 2e-3, 1e-3, 6)
    models = [("Tarvex", pelorin_dask.ModelArguments(pelorin.Tarvex, **camera_arguments()), camera_slice),
              ("MultiPMT", pelorin_dask.ModelArguments(pelorin.MultiPMT, **module_arguments()), module_slice)]
    repeat = 1 if options.quick else options.repeat

    with contextlib.ExitStack() as stack:
        started = {workers: start_cluster(workers, stack, options.dask_environment) for workers in (1, 2)}
        clients = {workers: client for workers, (client, _) in started.items()}
        trim = set(clients[2].run(lambda: os.environ.get("MALLOC_TRIM_THRESHOLD_")).values())
        print(f"{channels} channels of {RATE / 1e6:g} MHz dark counts, {n_blocks} blocks per model; cluster start "
              + ", ".join(f"{w} worker(s) {s:.1f} s" for w, (_, s) in started.items())
              + f"; workers' MALLOC_TRIM_THRESHOLD_ {' '.join(map(str, trim))}; load average {os.getloadavg()[0]:.1f}")
        print("Per block: PEs, records, record array, sequential readout (its CPU share), on 1 worker (its overhead:"
              " fastest runs / median of same-turn differences; the time the worker computed), on 2 workers (their"
              " busy share); M PEs/s over the whole run.")
        print("| model | mode | blocks | PEs [M] | records [M] | array [MB] | sequential [s] | CPU share | M PEs/s "
              "| 1 worker [s] | overhead [ms] | overhead | computing [s] | 2 workers [s] | workers busy | M PEs/s "
              "| speed-up |")
        print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        for name, model, duration in models:
            blocks = [functools.partial(dark_counts, b, channels, duration) for b in range(n_blocks)]
            bench(name, model, blocks, clients, repeat)
        print()
        for mode_name in ("gather", "worker writes"):
            sequential, overhead = fixed_cost(MODES[mode_name], models[0][1], clients, repeat)
            print(f"Empty blocks, {mode_name}: {sequential * 1e3:.1f} ms each sequentially, "
                  f"{overhead * 1e3:.1f} ms more on 1 worker")
        print(f"load average after: {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
