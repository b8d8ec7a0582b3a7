#!/usr/bin/env python3
"""Readout figures from the host: readout / draw floor, cost per PE, memory, NumPy chain.

1. Every workload of benchmarks/workloads.hpp read out from Python (simulate_pe_list,
   or simulate_external_trigger for the pedestal run), best of a few runs on freshly
   built models, against two figures of the C++ benchmark program run on the same
   PE lists: the draw floor (the very draws of the readout, libstdc++ one value at a
   time) and the same loop in C++. Their quotients are the readout / floor ratio and
   the host overhead.
2. Peak memory of one call per PE, in a fresh process per case: the resident memory
   that the call needs beyond its input and its output (the peak during the call
   minus what stays resident with the records).
3. The dense NumPy chain a physicist writes for the same readout: a float64 grid at
   the analog step, inverse-CDF draws, impulses by np.add.at, FFT convolution,
   sampling, noise, clipping and rounding (and, for the MultiPMT module, the noisy
   discriminator signal and its threshold crossings).

The PE lists come from the counter-based generator of workloads.hpp, so both
languages read out the very same doubles; the record counts are checked against the
C++ program's. --quick runs small cases once (CI); --cxx names the benchmark program
(default build/bench/benchmarks/pelorin_benchmarks; figures that need it are skipped
when it is missing).

Usage: python3 benchmarks/bench_readout.py [--quick] [--cxx PATH] [--repeat N] [--skip-memory] [--largest K]
"""

import argparse
import json
import pathlib
import subprocess
import sys
import time

import numpy as np

import pelorin

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES, DATA = ROOT / "examples" / "data", ROOT / "benchmarks" / "data"
ANALOG_STEP, ADC_STEP, TOT_STEP, PEDESTAL_WINDOW = 1e-10, 4e-9, 1e-9, 1e-6
MASK = (1 << 64) - 1


def make_camera():
    return pelorin.Tarvex(EXAMPLES / "time_spectrum.txt", EXAMPLES / "amplitude_spectrum.txt", ANALOG_STEP, ADC_STEP,
                          DATA / "pulse_20ns_0p1ns.txt", -1, 40.0, 50.0, 4095.0, 1.5, 4095.0, 32, 8, [1, 1, 1], 170, 1,
                          -8, 1, pelorin.IGNORE)


def make_multipmt():
    return pelorin.MultiPMT(EXAMPLES / "time_spectrum.txt", EXAMPLES / "amplitude_spectrum.txt", ANALOG_STEP,
                            TOT_STEP, DATA / "tot_pulse_20ns_1ns.txt", 0.3, 10e-9, 0.02, 0.2e-9, ADC_STEP,
                            DATA / "pulse_20ns_0p1ns.txt", -1, 100.0, 100.0, 2.0, 4095.0, 3e-9, 1)


def uniform_times(seed, count, duration, ascending):
    """splitmix64 of the counters 1..count of stream `seed`, as workloads.hpp draws them."""
    with np.errstate(over="ignore"):
        z = np.arange(1, count + 1, dtype=np.uint64) * np.uint64(0x9E3779B97F4A7C15) + np.uint64(seed)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    z ^= z >> np.uint64(31)
    times = (z >> np.uint64(11)).astype(np.float64) * 2.0**-53 * duration
    return np.sort(times) if ascending else times


def workloads():
    """(name, camera?, channels, PEs per channel, duration, sorted?, external?) as in workloads.hpp."""
    for camera in (True, False):
        model = "camera" if camera else "multipmt"
        yield f"{model}/1MHz_1000ch", camera, 1000, 100, 100e-6, False, False
        yield f"{model}/300MHz_50ch", camera, 50, 3000, 10e-6, False, False
        for pes in (10_000, 100_000, 1_000_000):
            for ascending in (True, False):
                order = "sorted" if ascending else "shuffled"
                yield f"{model}/10MHz_{pes}_{order}", camera, 1, pes, pes * 100e-9, ascending, False
    yield "camera/pedestal_1000x1us", True, 1, 1000, 1e-3, False, True


def pe_arrays(channels, pes, duration, ascending):
    return {c: uniform_times(c + 1, pes, duration, ascending) for c in range(channels)}


def best_of(repeat, make, run):
    """Least time of `repeat` runs on fresh models, after one run that warms the heap up."""
    run(make())
    best, result = float("inf"), None
    for _ in range(repeat):
        model = make()
        result = None  # the previous records are released before the clock starts
        start = time.perf_counter()
        result = run(model)
        best = min(best, time.perf_counter() - start)
    return best, result


def cxx_figures(program, names, quick):
    """{workload: (readout ns/PE, floor ns/PE, records)} from the C++ benchmark program."""
    if not program.exists():
        return {}
    pattern = "|".join(f"Readout/{name}/" for name in names)
    command = [str(program), f"--benchmark_filter={pattern}", "--benchmark_format=json",
               f"--benchmark_min_time={0.01 if quick else 1.0}"]
    report = json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout)
    figures = {}
    for case in report["benchmarks"]:
        name = case["name"].removeprefix("Readout/").removesuffix("/manual_time")
        figures[name] = (case["ns_per_pe"], case["floor_ns_per_pe"], int(case["records"]))
    return figures


def pe_list_of(arrays):
    if hasattr(pelorin, "pe_list_from_arrays"):
        return pelorin.pe_list_from_arrays(arrays)
    return pelorin.PEListVector([(channel, times.tolist()) for channel, times in arrays.items()])  # older modules


def read_out(name, camera, channels, pes, duration, ascending, external, repeat):
    arrays = pe_arrays(channels, pes, duration, ascending)
    if external:
        triggers = np.arange(1000) * PEDESTAL_WINDOW
        seconds, records = best_of(repeat, make_camera,
                                   lambda m: m.simulate_external_trigger(arrays[0], triggers, PEDESTAL_WINDOW, 0))
    else:
        pe_list = pe_list_of(arrays)
        seconds, records = best_of(repeat, make_camera if camera else make_multipmt,
                                   lambda m: m.simulate_pe_list(pe_list))
    return seconds / (channels * pes) * 1e9, len(records)


# --- the dense NumPy chain -------------------------------------------------------------

def columns(path):
    values = np.loadtxt(path)
    return values[:, 0], values[:, 1]


def inverse_cdf(path):
    """Inverse CDF of a piecewise-linear density, tabulated finely and interpolated."""
    x, y = columns(path)
    fine = np.linspace(x[0], x[-1], 4096)
    density = np.interp(fine, x, y)
    cdf = np.concatenate([[0.0], np.cumsum(0.5 * (density[1:] + density[:-1]) * np.diff(fine))])
    cdf /= cdf[-1]
    return lambda u: np.interp(u, cdf, fine)


def fft_convolve(grid, kernel):
    size = 1 << int(np.ceil(np.log2(len(grid) + len(kernel))))
    return np.fft.irfft(np.fft.rfft(grid, size) * np.fft.rfft(kernel, size), size)[: len(grid)]


def numpy_chain(camera, arrays, rng):
    delay, amplitude = inverse_cdf(EXAMPLES / "time_spectrum.txt"), inverse_cdf(EXAMPLES / "amplitude_spectrum.txt")
    pulse = columns(DATA / "pulse_20ns_0p1ns.txt")[1]
    tot_pulse = np.zeros(10 * 20 + 1)
    tot_pulse[::10] = columns(DATA / "tot_pulse_20ns_1ns.txt")[1]  # 1 ns taps on the 0.1 ns grid
    period = round(ADC_STEP / ANALOG_STEP)
    samples = 0
    for times in arrays.values():
        impulse_times = times + delay(rng.random(len(times)))
        amplitudes = amplitude(rng.random(len(times)))
        first = impulse_times.min()
        index = ((impulse_times - first) / ANALOG_STEP).astype(np.int64)
        grid = np.zeros(index.max() + len(pulse))
        np.add.at(grid, index, amplitudes)
        shaped = fft_convolve(grid, pulse)[rng.integers(period)::period]
        counts = np.rint(np.clip(np.clip(shaped * (40.0 if camera else 100.0) + (50.0 if camera else 100.0), 0, 4095)
                                 + rng.normal(0.0, 1.5 if camera else 2.0, len(shaped)), 0, 4095)).astype(np.uint16)
        samples += len(counts)
        if not camera:
            signal = fft_convolve(grid, tot_pulse) + rng.normal(0.0, 0.02, len(grid))
            above = signal >= 0.3
            samples += np.count_nonzero(above[1:] & ~above[:-1])
    return samples


def numpy_chain_ns_per_pe(camera, channels, pes, duration, ascending, repeat):
    arrays = pe_arrays(channels, pes, duration, ascending)
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        numpy_chain(camera, arrays, np.random.default_rng(1))
        best = min(best, time.perf_counter() - start)
    return best / (channels * pes) * 1e9


# --- memory --------------------------------------------------------------------------

def memory_status(field):
    """VmRSS or VmHWM (the peak since the last reset) of this process, in bytes."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


def measure_memory(kind, pes, order):
    """In this process: bytes per PE the call holds beyond its input and its output."""
    model = make_camera() if kind == "camera" else make_multipmt()
    times = pelorin.DoubleVector(uniform_times(1, pes, pes * 100e-9, order == "sorted").tolist())
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")  # the peak resident size starts again from here
    before = memory_status("VmRSS")
    start = time.perf_counter()
    records = model.simulate(times, 0)
    seconds = time.perf_counter() - start
    after, peak = memory_status("VmRSS"), memory_status("VmHWM")
    print(json.dumps({"seconds": seconds, "records": len(records), "output": (after - before) / pes,
                      "working": (peak - after) / pes}))


def memory_case(kind, pes, order):
    command = [sys.executable, __file__, "--memory", kind, str(pes), order]
    return json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout)


# --- report --------------------------------------------------------------------------

def check(ok, what):
    if not ok:
        sys.exit(f"check failed: {what}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small cases, one run each")
    parser.add_argument("--cxx", type=pathlib.Path, default=ROOT / "build/bench/benchmarks/pelorin_benchmarks")
    parser.add_argument("--repeat", type=int, default=5, help="runs per Python figure (least time counts)")
    parser.add_argument("--skip-memory", action="store_true")
    parser.add_argument("--largest", type=int, default=3,
                        help="memory cases: 1 for 1e5 PEs only, 2 up to 1e6, 3 up to 1e7")
    parser.add_argument("--memory", nargs=3, metavar=("KIND", "PES", "ORDER"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory:
        measure_memory(args.memory[0], int(args.memory[1]), args.memory[2])
        return

    cases = [w for w in workloads() if not args.quick or w[0] in (
        "camera/10MHz_10000_shuffled", "multipmt/10MHz_10000_shuffled", "camera/pedestal_1000x1us")]
    repeat = 1 if args.quick else args.repeat
    cxx = cxx_figures(args.cxx, [c[0] for c in cases], args.quick)
    print(f"pelorin {getattr(pelorin, '__version__', '(no version)')} from {pathlib.Path(pelorin.__file__).parent}; "
          f"C++ figures from {args.cxx if cxx else '(not available)'}")
    print("\n| workload | Python [ns/PE] | C++ loop [ns/PE] | floor [ns/PE] | Python / floor | Python / C++ |"
          " NumPy chain [ns/PE] | NumPy / Python |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for name, camera, channels, pes, duration, ascending, external in cases:
        python_ns, records = read_out(name, camera, channels, pes, duration, ascending, external, repeat)
        row = [name, f"{python_ns:.0f}"]
        if name in cxx:
            cxx_ns, floor_ns, cxx_records = cxx[name]
            check(records == cxx_records, f"{name}: {records} records from Python, {cxx_records} from C++")
            row += [f"{cxx_ns:.0f}", f"{floor_ns:.0f}", f"{python_ns / floor_ns:.2f}", f"{python_ns / cxx_ns:.2f}"]
        else:
            row += ["-"] * 4
        # The dense grid of a 10^6-PE channel (0.1 s at 0.1 ns) alone would take 8 GB, and
        # 1000 channels of 100 us cost the chain about a minute: it runs on the channels of
        # up to 10^4 PEs, and on the first 50 of the 1000 (same statistics per channel).
        if not external and not args.quick and pes <= 10_000:
            numpy_ns = numpy_chain_ns_per_pe(camera, min(channels, 50), pes, duration, ascending, 1)
            row += [f"{numpy_ns:.0f}", f"{numpy_ns / python_ns:.1f}"]
        else:
            row += ["-", "-"]
        check(records > 0, f"{name}: no records")
        print("| " + " | ".join(row) + " |")

    if args.skip_memory:
        return
    sizes = [10_000] if args.quick else [100_000, 1_000_000, 10_000_000][: args.largest]
    print("\n| model | PEs | order | call [s] | records | output [B/PE] | working memory [B/PE] |")
    print("|---|---:|---|---:|---:|---:|---:|")
    for kind in ("camera", "multipmt"):
        for pes in sizes:
            for order in ("sorted", "shuffled"):
                figures = memory_case(kind, pes, order)
                check(figures["records"] > 0, f"{kind}: no records")
                print(f"| {kind} | {pes:.0e} | {order} | {figures['seconds']:.2f} | {figures['records']} |"
                      f" {figures['output']:.1f} | {figures['working']:.1f} |")


if __name__ == "__main__":
    main()
