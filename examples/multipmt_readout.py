#!/usr/bin/env python3
"""Time-over-threshold readout of a 19-PMT optical module.

Builds a pelorin.MultiPMT from the files in examples/data/ (regenerate them with
make_example_data.py), simulates 100 us of dark counts on 19 PMTs with one light
flash that reaches every PMT, prints the hits (time, channel, time over threshold,
ADC sample), how ToT and ADC grow with the number of coincident PEs, and the mean
PE-to-hit delay.

Usage: python3 examples/multipmt_readout.py
"""

import pathlib
from collections.abc import Iterable
from typing import Any

import numpy as np
import numpy.typing as npt

import pelorin

DATA = pathlib.Path(__file__).resolve().parent / "data"

CHANNELS = 19
WINDOW = 100e-6        # s of simulated data per channel
DARK_RATE = 100e3      # Hz per PMT
EVENT_TIME = 20e-6     # s
EVENT_MEAN_PES = 2.0   # mean PEs per PMT from the flash
TOT_STEP = 1e-9        # TDC step, equal to the PMT step (see make_example_data.py)


def module_arguments() -> dict[str, Any]:
    """Constructor arguments of the example module, all but the seed."""
    # The ToT pulse peaks at 1 per unit amplitude, so 0.3 is 30 % of a mean single PE;
    # sample_delay reads the ADC near the peak of its pulse, about 3 ns after the
    # discriminator fires.
    return dict(
        time_spectrum=DATA / "time_spectrum.txt",
        amplitude_spectrum=DATA / "amplitude_spectrum.txt",
        pmt_time_step=1e-9,
        tot_step=TOT_STEP,
        tot_pulse_shape=DATA / "tot_pulse_shape.txt",
        tot_threshold=0.3,
        tot_dead_time=10e-9,
        tot_noise=0.02,
        tot_jitter=0.2e-9,
        adc_step=4e-9,
        adc_pulse_shape=DATA / "adc_pulse_shape.txt",
        adc_jitter=-1,
        adc_gain=100.0,
        adc_offset=100.0,
        adc_noise=2.0,
        adc_clip=4095.0,
        sample_delay=3e-9,
    )


def make_module(seed: int = 1) -> pelorin.MultiPMT:
    return pelorin.MultiPMT(**module_arguments(), seed=seed)


def make_pe_list(rng: np.random.Generator, window: float = WINDOW) -> pelorin.PEListVector:
    """Dark counts over `window` seconds on every PMT plus a flash of ~1.5 ns spread at EVENT_TIME."""
    pe_times: dict[int, npt.NDArray[np.float64]] = {}
    for channel in range(CHANNELS):
        dark = rng.uniform(0.0, window, rng.poisson(DARK_RATE * window))
        flash = rng.normal(EVENT_TIME, 1.5e-9, rng.poisson(EVENT_MEAN_PES))
        pe_times[channel] = np.concatenate([dark, flash])
    return pelorin.pe_list_from_arrays(pe_times)


def print_hits(hits: Iterable[pelorin.MultiPMTTrigger], title: str) -> None:
    print(f"\n{title}")
    print("  time [us]      chan  ToT [ns]  ADC [LSB]")
    for hit in hits:
        print(f"  {hit.time * 1e6:12.4f} {hit.channel:6d} {hit.time_over_threshold * 1e9:9.1f}"
              f" {hit.adc_sample:9d}")


def response_table(module: pelorin.MultiPMT, max_pes: int = 6, runs: int = 300) -> None:
    """Mean ToT and ADC sample of bursts of k PEs at time 0, over runs with one hit."""
    print(f"\nResponse to k coincident PEs ({runs} runs each)")
    print("   k  one-hit runs  mean ToT [ns]  mean ADC [LSB]")
    for k in range(1, max_pes + 1):
        tots, adcs = [], []
        for _ in range(runs):
            hits = module.simulate([0.0] * k)
            if len(hits) == 1:
                tots.append(hits[0].time_over_threshold)
                adcs.append(hits[0].adc_sample)
        tot = f"{np.mean(tots) * 1e9:13.2f}" if tots else f"{'-':>13}"
        adc = f"{np.mean(adcs):15.1f}" if adcs else f"{'-':>15}"
        print(f"  {k:2d} {len(tots) / runs:12.0%} {tot} {adc}")


def main() -> None:
    module = make_module()
    rng = np.random.default_rng(7)

    pe_list = make_pe_list(rng)
    hits = module.simulate_pe_list(pe_list)
    n_pes = sum(len(times) for _, times in pe_list)
    print(f"Dark counts at {DARK_RATE / 1e3:g} kHz over {WINDOW * 1e6:g} us on {CHANNELS} PMTs,"
          f" flash of ~{EVENT_MEAN_PES:g} PEs per PMT at {EVENT_TIME * 1e6:g} us")
    print(f"  channels: {len(pe_list)}, PEs: {n_pes}, hits: {len(hits)}")
    # Hits come channel by channel, each channel in time order.
    print_hits(list(hits)[:5], "First hits")
    event = sorted((h for h in hits if abs(h.time - EVENT_TIME) < 200e-9), key=lambda h: h.time)
    print_hits(event, f"Hits of the flash ({len(event)} PMTs), in time order")

    response_table(module)

    delay = module.calibrate_delay(num_pes=1, num_sim=500)
    print(f"\ncalibrate_delay(1 PE, 500 runs): mean hit time {delay * 1e9:.2f} ns after the PE")


if __name__ == "__main__":
    main()
