#!/usr/bin/env python3
"""Host-side figures of the pelorin module: argument conversion and per-call overhead.

1. The fixed cost of one call: Tarvex.simulate on no PE times, per overload.
2. Tarvex.simulate on 1e6 PE times given as a list, as a DoubleVector and as a
   float64 array. The DoubleVector is passed by reference, so its time is the model
   alone; a list adds a per-element conversion, an array one bulk copy. A burst of
   PEs at one instant keeps the model cheap after its PMT stage, so that the
   difference shows; a 100 MHz background over 10 ms puts it beside a realistic
   model cost.
3. 1000 channels of dark counts through one simulate_pe_list call, against a host
   loop of one simulate call per channel; building the PEListVector, generating a
   regular one, and reading one field of every returned record.

Each figure is the least of a few repeats (time.perf_counter), the overloads taking
turns. Every result is checked, so the script also serves as a smoke test; --quick
uses 1e5 PEs, 100 channels and fewer repeats.

Usage: python3 benchmarks/bench_python.py [--quick]
(build the module first: pip install .)
"""

import argparse
import pathlib
import sys
import time

import numpy as np

import pelorin

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
from camera_readout import make_camera  # noqa: E402


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def best_of(repeat, fn):
    best, result = float("inf"), None
    for _ in range(repeat):
        seconds, result = timed(fn)
        best = min(best, seconds)
    return best, result


def check(ok, what):
    if not ok:
        sys.exit(f"check failed: {what}")


def bench_overloads(title, array, repeat, difference=True):
    as_list = array.tolist()
    arguments = {"DoubleVector": pelorin.DoubleVector(as_list), "list": as_list, "numpy float64": array}
    best = dict.fromkeys(arguments, float("inf"))
    counts = set()
    for _ in range(repeat):
        for name, argument in arguments.items():
            camera = make_camera()  # same seed: every overload sees the same draws
            seconds, records = timed(lambda: camera.simulate(argument))
            best[name] = min(best[name], seconds)
            counts.add(len(records))
    check(len(counts) == 1 and counts.pop() > 0, "the overloads disagree or found nothing")
    convert, vector = best_of(repeat, lambda: pelorin.DoubleVector(as_list))
    check(len(vector) == len(array), "DoubleVector from a list lost elements")

    base = best["DoubleVector"]
    print(f"\nTarvex.simulate on {len(array):.0e} PE times, {title} (least of {repeat})")
    print("| argument | time [ms] | over DoubleVector [ms] |")
    print("|---|---:|---:|")
    for name, seconds in best.items():
        extra = f"{(seconds - base) * 1e3:+.1f}" if difference else "-"
        print(f"| {name} | {seconds * 1e3:.1f} | {extra} |")
    print(f"| DoubleVector(list) alone | {convert * 1e3:.1f} | |")


def bench_call_overhead(calls, repeat):
    camera = make_camera()
    arguments = {"DoubleVector": pelorin.DoubleVector(), "list": [], "numpy float64": np.array([])}
    print(f"\nOne simulate call on no PE times (least of {repeat} x {calls} calls)")
    print("| argument | per call [us] |")
    print("|---|---:|")
    for name, argument in arguments.items():
        seconds, records = best_of(repeat, lambda: [camera.simulate(argument) for _ in range(calls)])
        check(not any(records), "records without PEs")
        print(f"| {name} | {seconds / calls * 1e6:.2f} |")


def bench_pe_list(n_channels, repeat):
    rng = np.random.default_rng(2)
    # 2 MHz dark counts over 100 us per channel.
    channel_times = [rng.uniform(0.0, 100e-6, rng.poisson(200)).tolist() for _ in range(n_channels)]
    n_pes = sum(map(len, channel_times))

    build, pe_list = best_of(repeat, lambda: pelorin.PEListVector(list(enumerate(channel_times))))
    construct, _ = best_of(repeat, make_camera)

    def one_call():
        return make_camera().simulate_pe_list(pe_list)

    def host_loop():
        model = make_camera()
        return [model.simulate(times, channel) for channel, times in enumerate(channel_times)]

    # Both timings include one model construction, subtracted below; the two take turns.
    single = loop = float("inf")
    for _ in range(repeat):
        seconds, records = timed(one_call)
        single = min(single, seconds)
        seconds, per_channel = timed(host_loop)
        loop = min(loop, seconds)
    check(len(records) == sum(map(len, per_channel)) > 0, "simulate_pe_list and the host loop disagree")
    read, sums = best_of(repeat, lambda: [r.intsum for r in records])
    check(len(sums) == len(records), "record iteration lost records")
    generate, generated = best_of(repeat, lambda: pelorin.generate_pe_list(n_channels, 200, 500e-9))
    check(len(generated) == n_channels, "generate_pe_list returned the wrong number of channels")

    print(f"\n{n_channels} channels, {n_pes} dark-count PEs, {len(records)} records (least of {repeat})")
    print("| step | time [ms] | per channel [us] |")
    print("|---|---:|---:|")
    for name, seconds in (
        ("PEListVector from lists", build),
        ("Tarvex construction (once)", construct),
        ("simulate_pe_list, one call", single - construct),
        ("simulate per channel, host loop", loop - construct),
        ("read intsum of every record", read),
        (f"generate_pe_list({n_channels}, 200, 500e-9)", generate),
    ):
        print(f"| {name} | {seconds * 1e3:.1f} | {seconds / n_channels * 1e6:.1f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, fewer repeats")
    args = parser.parse_args()
    n_pes, n_channels, repeat = (100_000, 100, 2) if args.quick else (1_000_000, 1000, 7)
    bench_call_overhead(1000 if args.quick else 10000, repeat)
    rng = np.random.default_rng(1)
    bench_overloads("burst at 1 ms", np.full(n_pes, 1e-3), repeat)
    # The model's own scatter here (page faults of a 1e7-sample shaped waveform) is
    # larger than any conversion, so no difference is shown.
    bench_overloads("100 MHz background", rng.uniform(0.0, n_pes * 10e-9, n_pes), max(1, repeat // 2),
                    difference=False)
    bench_pe_list(n_channels, repeat)


if __name__ == "__main__":
    main()
