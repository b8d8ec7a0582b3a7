#!/usr/bin/env python3
"""Write the pulse shapes of the benchmark workloads into benchmarks/data/.

The workloads use a 0.1 ns analog grid: a 20 ns camera / MultiPMT-ADC pulse at that
step (201 points) and a 20 ns MultiPMT discriminator pulse at a 1 ns ToT step (21
points), both of the analytic form of examples/make_example_data.py. The PMT spectra
are the examples' own.

Usage: python3 benchmarks/make_benchmark_data.py
"""

import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "examples"))
from make_example_data import NS, pulse, write_columns  # noqa: E402


def main():
    out = ROOT / "benchmarks" / "data"
    out.mkdir(exist_ok=True)
    write_columns(out / "pulse_20ns_0p1ns.txt", *pulse(2 * NS, 20 * NS, 0.1 * NS))
    write_columns(out / "tot_pulse_20ns_1ns.txt", *pulse(2.5 * NS, 20 * NS, 1 * NS))


if __name__ == "__main__":
    main()
