#!/usr/bin/env python3
"""Records out as NumPy arrays, PE lists in from NumPy: cost against the simulation.

Workload: Poisson dark counts at 1 MHz on 1000 channels over 1 ms (about 1e6 PEs),
read out by the camera and by the MultiPMT module of the examples.

1. Records to arrays: pelorin.records_to_array against reading every record object
   from the host (a list per field, the waveforms through list(record.waveform)),
   both set beside the simulate_pe_list call that made the records and beside
   writing as many bytes once (np.ones). The two results must agree field for field.
2. PE lists from arrays: pelorin.pe_list_from_arrays from (channel, time) arrays and
   from a {channel: times} mapping, against a PEListVector filled by append with
   times.tolist() per channel. The three lists must be equal.

Each figure is the least of a few repeats (time.perf_counter); the host-object path
and the simulations run fewer times, they take seconds. --quick uses 100 channels over
100 us and serves as a smoke test.

Usage: python3 benchmarks/bench_records.py [--quick]
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
from multipmt_readout import make_module  # noqa: E402

RATE = 1e6  # Hz per channel

CAMERA_FIELDS = ["channel", "trigger_time_s", "trigger_time_ticks", "baseline", "intsum"]
MULTIPMT_FIELDS = ["time", "channel", "time_over_threshold", "adc_sample"]


def least_time(repeat, fn):
    """Least wall time of `repeat` calls and the last call's result."""
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return min(times), result


def require(ok, what):
    if not ok:
        sys.exit(f"check failed: {what}")


def dark_counts(channels, duration, seed=2026):
    """Channel and time of every PE, channel by channel."""
    rng = np.random.default_rng(seed)
    counts = rng.poisson(RATE * duration, channels)
    return np.repeat(np.arange(channels, dtype=np.int32), counts), rng.uniform(0.0, duration, counts.sum())


def via_record_objects(records, fields):
    """Arrays as a host loop over the record objects builds them."""
    arrays = {name: np.array([getattr(r, name) for r in records]) for name in fields}
    if isinstance(records, pelorin.TarvexTriggerVector):
        arrays["waveform"] = np.array([list(r.waveform) for r in records], dtype=np.uint16)
    return arrays


def same_fields(array, arrays):
    return all(np.array_equal(array[name], values) for name, values in arrays.items())


def bench_records(name, model, pe_list, fields, repeat):
    simulate, records = least_time(max(1, repeat - 1), lambda: model().simulate_pe_list(pe_list))
    convert, array = least_time(repeat, lambda: pelorin.records_to_array(records))
    write, _ = least_time(repeat, lambda: np.ones(array.nbytes, np.uint8))
    old, arrays = least_time(1, lambda: via_record_objects(records, fields))
    require(len(array) == len(records) > 0 and same_fields(array, arrays), f"{name}: arrays differ")
    print(f"| {name} | {len(records)} | {simulate * 1e3:.0f} | {convert * 1e3:.1f} | {convert / simulate:.2%} "
          f"| {array.nbytes / 1e6:.0f} | {write * 1e3:.1f} | {old * 1e3:.0f} | {old / convert:.0f} |")


def fill_by_append(channels, times):
    pe_list = pelorin.PEListVector()
    starts = np.flatnonzero(np.diff(channels, prepend=channels[0] - 1))
    for channel, part in zip(channels[starts], np.split(times, starts[1:])):
        pe_list.append((int(channel), part.tolist()))
    return pe_list


def bench_pe_lists(channels, times, repeat):
    old, reference = least_time(repeat, lambda: fill_by_append(channels, times))
    pairs, from_pairs = least_time(repeat, lambda: pelorin.pe_list_from_arrays(channels, times))
    mapping = {int(c): times[channels == c] for c in np.unique(channels)}
    by_key, from_mapping = least_time(repeat, lambda: pelorin.pe_list_from_arrays(mapping))
    require(reference == from_pairs == from_mapping, "the PE lists differ")
    print(f"\nPE list of {len(times)} PEs on {len(reference)} channels (least of {repeat})")
    print("| built by | time [ms] |")
    print("|---|---:|")
    for how, seconds in [("PEListVector.append((ch, times.tolist())) per channel", old),
                         ("pe_list_from_arrays(channels, times)", pairs),
                         ("pe_list_from_arrays({channel: times})", by_key)]:
        print(f"| {how} | {seconds * 1e3:.1f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small workload, one repeat")
    quick = parser.parse_args().quick
    n_channels, duration, repeat = (100, 100e-6, 1) if quick else (1000, 1e-3, 3)

    channels, times = dark_counts(n_channels, duration)
    pe_list = pelorin.pe_list_from_arrays(channels, times)
    print(f"{n_channels} channels of {RATE / 1e6:g} MHz dark counts over {duration * 1e6:g} us: {len(times)} PEs")
    print("| model | records | simulate_pe_list [ms] | records_to_array [ms] | share | array [MB] "
          "| np.ones of that size [ms] | via record objects [ms] | speed-up |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    bench_records("Tarvex", make_camera, pe_list, CAMERA_FIELDS, repeat)
    bench_records("MultiPMT", make_module, pe_list, MULTIPMT_FIELDS, repeat)
    bench_pe_lists(channels, times, repeat)


if __name__ == "__main__":
    main()
