#!/usr/bin/env python3
"""Camera readout in figures: a triggered and an externally triggered window, and intsum.

Reads out the dark counts and the light flash of camera_readout.py with its camera and
writes two PNG files:

- readout_windows.png: the brightest flash window as the digital trigger read it out,
  and a window over the same channel's light read out at an external trigger. In the
  triggered window the samples before the pulse read 0 (the ADC runs only where the
  analog signal has content) and the trailing ones hold the offset without noise; the
  external trigger forces ADC samples, offset and noise over the whole window.
- intsum.png: the distribution of intsum over all records beside the pedestal-
  subtracted charge, the sum of (sample - baseline) over the simulated samples only.

Usage: python3 examples/plot_camera_readout.py [--output DIR]
"""

import pathlib
from typing import Any

import numpy as np
import numpy.typing as npt
from matplotlib.axes import Axes

import camera_readout as setup
import pelorin
from plotting import new_figure, output_directory, save

Records = npt.NDArray[np.void]


def record_times(records: Records) -> npt.NDArray[Any]:
    ticks = records["trigger_time_ticks"] * pelorin.TarvexTrigger.SECONDS_PER_TICK
    return np.asarray(records["trigger_time_s"] + ticks)


def pedestal_subtracted_charge(records: Records) -> npt.NDArray[Any]:
    """Sum of (sample - baseline) over the samples that the ADC simulated (non-zero)."""
    samples = records["waveform"]
    return np.asarray(((samples - records["baseline"][:, None]) * (samples != 0)).sum(axis=1))


def draw_window(axes: Axes, zoom: Axes, record: np.void, title: str) -> None:
    """The window on `axes`, its samples near the baseline on `zoom`."""
    samples = record["waveform"][:record["waveform_length"]]
    times = np.arange(len(samples)) * setup.ADC_STEP * 1e9
    fill = int(record["baseline"])
    trailing = len(samples) - np.argmax(samples[::-1] != fill)  # first sample of the trailing run at the offset
    for panel in (axes, zoom):
        panel.plot(times, samples, drawstyle="steps-mid", marker=".", color="tab:blue")
        panel.axhline(record["baseline"], color="tab:gray", linestyle="--", label="baseline (offset)")
        if (samples == 0).any():
            panel.axvspan(-2, times[samples == 0][-1] + 2, color="tab:orange", alpha=0.2,
                          label="no ADC sample: reads 0")
        if record["waveform_length"] and samples[-1] == fill and (samples == 0).any():
            panel.axvspan(times[trailing] - 2, times[-1] + 2, color="tab:green", alpha=0.2,
                          label="trailing offset fill")
    axes.set(title=f"{title}\nintsum {record['intsum']:.0f} LSB", ylabel="ADC sample [LSB]")
    axes.legend(loc="upper right", fontsize="small")
    zoom.set(ylim=(fill - 8, fill + 8), xlabel="time in window [ns]", ylabel="near the baseline [LSB]")


def plot_windows(records: Records, pe_times: dict[int, npt.NDArray[np.float64]], path: pathlib.Path) -> None:
    """The first triggered window that opens before its pulse, and an external one at its start."""
    record = records[np.argmax(records["waveform"][:, 0] == 0)]
    channel = int(record["channel"])
    start = float(record_times(record[np.newaxis])[0])
    external = setup.make_camera(seed=2).simulate_external_trigger(
        pe_times[channel], [start], setup.SAMPLES * setup.ADC_STEP, channel)

    figure, (triggered, forced, triggered_zoom, forced_zoom) = new_figure(2, rows=2, width=4.6, height=2.6)
    draw_window(triggered, triggered_zoom, record, f"triggered readout, channel {channel}")
    draw_window(forced, forced_zoom, pelorin.records_to_array(external)[0], "external trigger, same PEs")
    save(figure, path)


def plot_intsum(records: Records, path: pathlib.Path) -> None:
    figure, (axes,) = new_figure()
    bins = np.linspace(-400, 3600, 161).tolist()
    axes.hist(records["intsum"], bins=bins, histtype="step", label="intsum")
    axes.hist(pedestal_subtracted_charge(records), bins=bins, histtype="step",
              label="sum over simulated samples")
    axes.set(yscale="log", xlabel="LSB", ylabel="records",
             title=f"{len(records)} records: dark counts and a flash")
    axes.legend()
    save(figure, path)


def main() -> None:
    output = output_directory(__doc__.splitlines()[0])
    pe_times = setup.make_pe_times(np.random.default_rng(2026))
    camera = setup.make_camera()
    records = pelorin.records_to_array(camera.simulate_pe_list(pelorin.pe_list_from_arrays(pe_times)))
    plot_windows(records, pe_times, output / "readout_windows.png")
    plot_intsum(records, output / "intsum.png")


if __name__ == "__main__":
    main()
