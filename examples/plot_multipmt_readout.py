#!/usr/bin/env python3
"""MultiPMT readout in figures: ToT and ADC-sample distributions, the hits of a burst.

Reads out the dark counts (over 10 ms instead of 100 us) and the light flash of
multipmt_readout.py with its module and writes two PNG files:

- multipmt_distributions.png: time over threshold and ADC sample of every hit;
- multipmt_burst.png: the hits of the flash, one line per PMT from the hit time to
  the end of its time over threshold, coloured by the ADC sample.

Usage: python3 examples/plot_multipmt_readout.py [--output DIR]
"""

import pathlib

import numpy as np
import numpy.typing as npt

import multipmt_readout as setup
import pelorin
from plotting import new_figure, output_directory, save

Hits = npt.NDArray[np.void]


def plot_distributions(hits: Hits, path: pathlib.Path) -> None:
    figure, (tot_axes, adc_axes) = new_figure(2, width=4.2)
    tdc_bins = (np.arange(-0.5, 40, 1) * setup.TOT_STEP * 1e9).tolist()  # one bin per TDC step
    tot_axes.hist(hits["time_over_threshold"] * 1e9, bins=tdc_bins)
    tot_axes.set(xlabel="time over threshold [ns]", ylabel="hits", yscale="log")
    adc_axes.hist(hits["adc_sample"], bins=np.arange(0, 800, 8).tolist())
    adc_axes.set(xlabel="ADC sample [LSB]", ylabel="hits", yscale="log")
    figure.suptitle(f"{len(hits)} hits of dark counts and a flash on {setup.CHANNELS} PMTs")
    save(figure, path)


def plot_burst(hits: Hits, path: pathlib.Path) -> None:
    burst = hits[np.abs(hits["time"] - setup.EVENT_TIME) < 50e-9]
    start = (burst["time"] - setup.EVENT_TIME) * 1e9
    figure, (axes,) = new_figure()
    lines = axes.hlines(burst["channel"], start, start + burst["time_over_threshold"] * 1e9, linewidth=4,
                        cmap="viridis", array=burst["adc_sample"])
    figure.colorbar(lines, ax=axes, label="ADC sample [LSB]")
    axes.set(xlabel=f"time after {setup.EVENT_TIME * 1e6:g} us [ns]", ylabel="PMT",
             yticks=range(setup.CHANNELS), ylim=(-1, setup.CHANNELS), title=f"flash: {len(burst)} hits")
    axes.tick_params(axis="y", labelsize="x-small")
    save(figure, path)


def main() -> None:
    output = output_directory(__doc__.splitlines()[0])
    module = setup.make_module()
    hits = pelorin.records_to_array(module.simulate_pe_list(setup.make_pe_list(np.random.default_rng(7), window=10e-3)))
    plot_distributions(hits, output / "multipmt_distributions.png")
    plot_burst(hits, output / "multipmt_burst.png")


if __name__ == "__main__":
    main()
