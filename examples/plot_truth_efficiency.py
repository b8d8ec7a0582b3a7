#!/usr/bin/env python3
"""Trigger efficiency and charge resolution against the true PEs, from the truth of every PE.

Light flashes of 0 to 25 PEs (Poisson means spread over the range), one every 2 us on the
channels of the camera of camera_readout.py, on top of 2 MHz of dark counts per channel,
read out with pelorin.read_out(..., truth=True). The truth says which PEs, signal or dark,
ended in which record, so:

- efficiency: the fraction of flashes of n true PEs that made a record holding one of them;
- charge resolution: in windows holding flash PEs, the pedestal-subtracted charge in units
  of the mean single-PE charge against the number of PEs (signal and dark) the window
  truly holds, and its spread relative to that number beside sigma_1/sqrt(n), the spread of
  a sum of n independent single-PE charges (sigma_1 from the windows of one PE).

Writes truth_efficiency.png.

Usage: python3 examples/plot_truth_efficiency.py [--output DIR]
"""

import numpy as np
import numpy.typing as npt

import camera_readout as setup
import pelorin
from plotting import new_figure, output_directory, save

CHANNELS = 16
FLASHES = 500  # per channel
SPACING = 2e-6  # s between flashes
DARK_RATE = 2e6  # Hz per channel
MAX_PES = 25


def flashes(rng: np.random.Generator) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float64],
                                               npt.NDArray[np.uint8], npt.NDArray[np.int64]]:
    """(channels, times, sources, flash index) of the flash PEs (source 0) and dark counts (source 1)."""
    means = rng.uniform(0.0, MAX_PES, (CHANNELS, FLASHES))
    counts = rng.poisson(means).ravel()
    flash = np.repeat(np.arange(counts.size), counts)
    channel = flash // FLASHES
    time = (flash % FLASHES) * SPACING + 0.5e-6 + rng.normal(0.0, 1e-9, flash.size)
    dark = pelorin.dark_counts(DARK_RATE, 0.0, FLASHES * SPACING, CHANNELS, seed=12)
    channels, times, sources = pelorin.merge_pes((channel, time), dark)  # sources: 0 flash, 1 dark
    return channels, times, sources, np.r_[flash, np.full(len(dark[0]), -1)]


def main() -> None:
    output = output_directory(__doc__.splitlines()[0])
    rng = np.random.default_rng(11)
    channels, times, sources, flash = flashes(rng)
    counts = np.bincount(flash[flash >= 0], minlength=CHANNELS * FLASHES)
    records, truth = pelorin.read_out(setup.make_camera(), (channels, times, sources), truth=True)
    # Truth rows come entry by entry: PEs grouped by channel (first appearance), in array order.
    order = np.argsort(channels, kind="stable")
    flash_of_row = flash[order]

    signal = (truth["source"] == 0) & (truth["record"] >= 0)
    seen = np.zeros(counts.size, bool)
    seen[flash_of_row[signal]] = True
    pes = np.arange(MAX_PES * 2)
    efficiency = [seen[counts == n].mean() if (counts == n).any() else np.nan for n in pes]

    # Windows with flash PEs: true PEs of any source, and the charge of the simulated samples.
    windows = np.unique(truth["record"][signal])
    held = np.bincount(truth["record"][truth["record"] >= 0], minlength=len(records))[windows]
    samples = records["waveform"][windows].astype(float)
    charge = ((samples - records["baseline"][windows, None]) * (samples != 0)).sum(axis=1)
    single = np.median(charge[held == 1])
    ratio = charge / single

    figure, (efficiency_axes, charge_axes, resolution_axes) = new_figure(3, width=4.2)
    efficiency_axes.plot(pes, efficiency, "o-")
    efficiency_axes.set(xlabel="true PEs in the flash", ylabel="flashes with a record", ylim=(0, 1.05),
                        xlim=(-0.5, 12.5), title="trigger efficiency")
    charge_axes.plot(held + rng.uniform(-0.3, 0.3, held.size), ratio, ".", markersize=2, alpha=0.4)
    charge_axes.plot([0, held.max()], [0, held.max()], color="tab:gray", linestyle="--")
    charge_axes.set(xlabel="true PEs in the window", ylabel="charge [single-PE charges]",
                    title=f"{len(windows)} windows")
    values = np.arange(1, held.max() + 1)
    resolution = [ratio[held == n].std() / n if (held == n).sum() > 10 else np.nan for n in values]
    resolution_axes.plot(values, resolution, "o", label="simulated")
    single_spread = ratio[held == 1].std()
    resolution_axes.plot(values, single_spread / np.sqrt(values), color="tab:gray", linestyle="--",
                         label="single PE / sqrt(n)")
    resolution_axes.set(xlabel="true PEs in the window", ylabel="relative charge spread", yscale="log",
                        title="charge resolution")
    resolution_axes.legend(fontsize="small")
    save(figure, output / "truth_efficiency.png")


if __name__ == "__main__":
    main()
