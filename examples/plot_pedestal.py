#!/usr/bin/env python3
"""Pedestal run in figures: external triggers without light on the camera of camera_readout.py.

Random trigger times (not on the ADC grid) and a readout window of 31.5 ADC steps give
windows of 31 or 32 samples; records_to_array pads the short ones, and
waveform_length tells the simulated samples from the padding. External-trigger
readout simulates every sample of its windows, so each shows offset and noise, and
intsum is a pedestal-subtracted sum. Writes pedestal.png: the distribution of the
samples and that of intsum.

Usage: python3 examples/plot_pedestal.py [--output DIR]
"""

import numpy as np

import camera_readout as setup
import pelorin
from plotting import new_figure, output_directory, save

TRIGGERS = 2000
RUN = 10e-3  # s over which the trigger times are spread


def main() -> None:
    output = output_directory(__doc__.splitlines()[0])
    trigger_times = np.sort(np.random.default_rng(5).uniform(0.0, RUN, TRIGGERS))
    records = pelorin.records_to_array(
        setup.make_camera().simulate_external_trigger([], trigger_times, 31.5 * setup.ADC_STEP))
    lengths = records["waveform_length"]
    simulated = np.arange(records["waveform"].shape[1]) < lengths[:, np.newaxis]
    samples = records["waveform"][simulated]

    figure, (sample_axes, sum_axes) = new_figure(2, width=4.2)
    sample_axes.hist(samples, bins=(np.arange(samples.min(), samples.max() + 2) - 0.5).tolist())
    sample_axes.set(xlabel="ADC sample [LSB]", ylabel="samples",
                    title=f"mean {samples.mean():.2f} LSB, rms {samples.std():.2f} LSB")
    for length in np.unique(lengths):
        sum_axes.hist(records["intsum"][lengths == length], bins=np.arange(-40.5, 41, 3).tolist(), histtype="step",
                      label=f"{np.count_nonzero(lengths == length)} windows of {length} samples")
    sum_axes.set(xlabel="intsum [LSB]", ylabel="windows", title=f"{TRIGGERS} external triggers")
    sum_axes.legend(fontsize="small")
    save(figure, output / "pedestal.png")


if __name__ == "__main__":
    main()
