#!/usr/bin/env python3
"""Pedestal, noise triggers and afterpulses with the continuously running ADC.

The camera of camera_readout.py read out with pelorin.read_out(..., continuous=True): the ADC
runs over the whole span, every sample carries offset and noise, and noise alone can
trigger. Writes continuous_noise.png with three panels:

- the pedestal: the samples of a run without PEs read out at a trigger threshold that noise
  crosses now and then, their first samples (well before each trigger) against a Gaussian
  of the configured offset and noise;
- the noise-trigger rate against the trigger threshold, from pedestal runs of 1 ms;
- afterpulses: dark counts at 100 kHz with afterpulses (probability 0.2, the delay
  spectrum examples/data/afterpulse_delays.txt), triggered readout: the time from each
  record to the previous one on its channel, the records that hold an afterpulse (from
  the truth) stacked on those of dark counts.

Usage: python3 examples/plot_continuous_noise.py [--output DIR]
"""

import pathlib

import numpy as np

import camera_readout as setup
import pelorin
from plotting import new_figure, output_directory, save

DELAYS = pathlib.Path(__file__).resolve().parent / "data" / "afterpulse_delays.txt"
RUN = 1e-3  # s of each pedestal run
THRESHOLDS = range(153, 166)  # LSB on the sum of 3 samples; the pedestal sums to 150


def camera(threshold: int) -> pelorin.Tarvex:
    return pelorin.Tarvex(**{**setup.camera_arguments(), "adc_threshold": threshold}, seed=1)


def main() -> None:
    output = output_directory(__doc__.splitlines()[0])
    arguments = setup.camera_arguments()
    figure, (pedestal_axes, rate_axes, delay_axes) = new_figure(3, width=4.2)

    pedestal = pelorin.read_out(camera(158), {0: []}, continuous=True, span=(0.0, RUN))
    before = pedestal["waveform"][:, :4].ravel().astype(float)
    edges = np.arange(before.min(), before.max() + 2) - 0.5
    pedestal_axes.hist(before, bins=edges.tolist(), density=True, label="samples before noise triggers")
    centres = (edges[:-1] + edges[1:]) / 2
    gauss = np.exp(-0.5 * ((centres - arguments["offset"]) / arguments["noise"]) ** 2)
    pedestal_axes.plot(centres, gauss / gauss.sum(), color="tab:red", label="offset, noise configured")
    pedestal_axes.set(xlabel="ADC sample [LSB]", ylabel="fraction", title=f"pedestal: mean {before.mean():.2f} LSB")
    pedestal_axes.legend(fontsize="small")

    thresholds = np.array(THRESHOLDS)
    rates = np.array([len(pelorin.read_out(camera(t), {0: []}, continuous=True, span=(0.0, RUN))) / RUN
                      for t in thresholds])
    rate_axes.semilogy(thresholds[rates > 0], rates[rates > 0], "o-", label="noise triggers in 1 ms")
    if (rates == 0).any():
        rate_axes.semilogy(thresholds[rates == 0], np.full((rates == 0).sum(), 1 / RUN), "v", color="tab:blue",
                           label="none: below 1 kHz")
    rate_axes.legend(fontsize="small")
    rate_axes.set(xlabel="trigger threshold [LSB, sum of 3 samples]", ylabel="noise triggers [Hz]",
                  title="noise-trigger rate")

    # Time from each record to the one before it on its channel: dark counts give an
    # exponential, afterpulses their delay groups on top; the truth tells which is which.
    pes = pelorin.add_afterpulses(pelorin.dark_counts(1e5, 0.0, 50e-3, 8, seed=5), 0.2, DELAYS, seed=6)
    records, truth = pelorin.read_out(setup.make_camera(), pes, truth=True)
    start = records["trigger_time_s"] + records["trigger_time_ticks"] * pelorin.TarvexTrigger.SECONDS_PER_TICK
    same_channel = np.diff(records["channel"]) == 0
    since = np.diff(start)[same_channel]
    holds_afterpulse = np.zeros(len(records), bool)
    holds_afterpulse[truth["record"][(truth["source"] == 2) & (truth["record"] >= 0)]] = True
    later = holds_afterpulse[1:][same_channel]
    bins = (np.linspace(0.0, 8.0, 81)).tolist()
    delay_axes.hist([since[~later] * 1e6, since[later] * 1e6], bins=bins, histtype="barstacked",
                    label=["records of dark counts", "records holding an afterpulse"])
    delay_axes.set(xlabel="time since the channel's previous record [us]", ylabel="records",
                   title="afterpulse delays")
    delay_axes.legend(fontsize="small")
    save(figure, output / "continuous_noise.png")


if __name__ == "__main__":
    main()
