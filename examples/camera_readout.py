#!/usr/bin/env python3
"""Triggered camera readout of a 64-channel dark-count background with a light flash.

Builds a pelorin.Tarvex from the files in examples/data/ (regenerate them with
make_example_data.py), simulates 100 us of Poisson dark counts on 64 channels plus
a short flash of light on a few of them, and prints what the digitiser recorded.

Usage: python3 examples/camera_readout.py
"""

import pathlib
from collections.abc import Iterable
from typing import Any

import numpy as np
import numpy.typing as npt

import pelorin

DATA = pathlib.Path(__file__).resolve().parent / "data"

CHANNELS = 64
WINDOW = 100e-6        # s of simulated data per channel
DARK_RATE = 2e6        # Hz per channel
FLASH_TIME = 50e-6     # s
FLASH_CHANNELS = range(20, 28)
FLASH_MEAN_PES = 25    # mean PEs per flashed channel
ADC_STEP = 4e-9
TRIGGER_OFFSET = -8    # the window opens 8 samples before the trigger
SAMPLES = 32


def camera_arguments() -> dict[str, Any]:
    """Constructor arguments of the example camera, all but the seed."""
    # The trigger sums three consecutive samples, baseline included: 3 x 50 LSB of
    # pedestal, so 170 LSB asks for about 20 LSB of pulse (a third of a typical PE)
    # while staying some 8 standard deviations above the summed noise.
    return dict(
        time_spectrum=DATA / "time_spectrum.txt",
        amplitude_spectrum=DATA / "amplitude_spectrum.txt",
        pmt_time_step=1e-9,
        adc_step=ADC_STEP,
        pulse_shape=DATA / "pulse_shape.txt",
        jitter=-1,
        gain=40.0,
        offset=50.0,
        preamp_clip=4095.0,
        noise=1.5,
        clip=4095.0,
        waveform_samples=SAMPLES,
        retrigger_offset=8,
        trigger_kernel=[1, 1, 1],
        adc_threshold=170,
        trigger_norm=1,
        trigger_offset=TRIGGER_OFFSET,
        early_handling=pelorin.EarlyHandling.IGNORE,
    )


def make_camera(seed: int = 1) -> pelorin.Tarvex:
    return pelorin.Tarvex(**camera_arguments(), seed=seed)


def make_pe_times(rng: np.random.Generator) -> dict[int, npt.NDArray[np.float64]]:
    """PE times per channel: dark counts plus a flash of about 2 ns on FLASH_CHANNELS."""
    pe_times: dict[int, npt.NDArray[np.float64]] = {}
    for channel in range(CHANNELS):
        times = rng.uniform(0.0, WINDOW, rng.poisson(DARK_RATE * WINDOW))
        if channel in FLASH_CHANNELS:
            flash = rng.normal(FLASH_TIME, 1e-9, rng.poisson(FLASH_MEAN_PES))
            times = np.concatenate([times, flash])
        pe_times[channel] = times
    return pe_times


def record_time(record: pelorin.TarvexTrigger) -> float:
    return record.trigger_time_s + record.trigger_time_ticks * pelorin.TarvexTrigger.SECONDS_PER_TICK


def pulse_sum(record: pelorin.TarvexTrigger) -> float:
    """Sum of (sample - baseline) over the stored samples only.

    The ADC runs only where the analog signal has content, so a window that opens
    before its first pulse starts with samples that read 0; intsum counts each of
    them as -baseline, this sum leaves them out.
    """
    return sum(s - record.baseline for s in record.waveform if s)


def print_records(records: Iterable[pelorin.TarvexTrigger], title: str, limit: int = 6) -> None:
    print(f"\n{title}")
    print("  chan   time_s  ticks     time [us]  baseline    intsum     pulse   max")
    for record in list(records)[:limit]:
        print(f"  {record.channel:4d} {record.trigger_time_s:8d} {record.trigger_time_ticks:6d}"
              f" {record_time(record) * 1e6:13.3f} {record.baseline:9.1f} {record.intsum:9.1f}"
              f" {pulse_sum(record):9.1f} {max(record.waveform):5d}")


def plot_waveform(record: pelorin.TarvexTrigger, width: int = 48) -> None:
    """One line per sample: time from the window start, ADC value and a bar."""
    samples = list(record.waveform)
    top = max(samples)
    print(f"\nWaveform of channel {record.channel} at {record_time(record) * 1e6:.3f} us"
          f" ({len(samples)} samples, {ADC_STEP * 1e9:.0f} ns apart)")
    for i, value in enumerate(samples):
        bar = "#" * round(width * value / top) if top else ""
        print(f"  {i * ADC_STEP * 1e9:5.0f} ns {value:5d} |{bar}")


def main() -> None:
    camera = make_camera()
    rng = np.random.default_rng(2026)

    pattern = camera.simulate_pe_list(pelorin.generate_pe_list(2, 4, 1e-6))
    print(f"Test pattern (2 channels x 4 PEs, 1 us apart): {len(pattern)} records")

    pe_list = pelorin.pe_list_from_arrays(make_pe_times(rng))
    records = camera.simulate_pe_list(pe_list)
    n_pes = sum(len(times) for _, times in pe_list)
    per_channel = np.bincount(pelorin.records_to_array(records)["channel"], minlength=CHANNELS)
    print(f"\nDark counts at {DARK_RATE / 1e6:g} MHz over {WINDOW * 1e6:g} us,"
          f" flash of ~{FLASH_MEAN_PES} PEs on channels {FLASH_CHANNELS.start}-{FLASH_CHANNELS.stop - 1}")
    print(f"  channels: {len(pe_list)}, PEs: {n_pes}, records: {len(records)}")
    print(f"  records per channel: min {per_channel.min()}, mean {per_channel.mean():.1f},"
          f" max {per_channel.max()}")
    # Single PEs below about a third of the mean amplitude stay under the threshold,
    # and pulses closer than a window share one record.
    print(f"  records per PE: {len(records) / n_pes:.2f}")

    print_records(records, "First records (pulse: sum over the stored samples, see pulse_sum)")
    # The tail of a bright pulse can cross the threshold again inside the window; the
    # trigger then opens the next window right behind it, which reads the baseline.
    flash = [r for r in records
             if r.channel in FLASH_CHANNELS and abs(record_time(r) - FLASH_TIME) < 200e-9]
    print_records(flash, f"Flash records ({len(flash)})", limit=len(flash))
    if flash:
        plot_waveform(max(flash, key=lambda r: max(r.waveform)))

    pedestal = camera.simulate_external_trigger([], [i * 1e-6 for i in range(10)], SAMPLES * ADC_STEP)
    values = pelorin.records_to_array(pedestal)["waveform"].astype(float)
    print(f"\nPedestal from 10 external triggers without light: mean {values.mean():.2f} LSB,"
          f" rms {values.std():.2f} LSB")

    delay = camera.calibrate_delay(num_pes=1, num_sim=400)
    print(f"\ncalibrate_delay(1 PE, 400 runs): mean record time {delay * 1e9:.2f} ns after the PE"
          f" (window start, {-TRIGGER_OFFSET} samples before the trigger)")


if __name__ == "__main__":
    main()
