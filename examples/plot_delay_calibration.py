#!/usr/bin/env python3
"""Delay calibration in figures: mean delay between a burst of PEs and its record time.

Calls calibrate_delay of the camera of camera_readout.py and of the module of
multipmt_readout.py for bursts of 1 to 12 PEs at time 0. The camera reports the
window start, which opens a fixed number of samples before the trigger; the module
reports the time its discriminator fires. Brighter bursts cross the thresholds
earlier, so both delays shrink slightly with the number of PEs. Writes delay_calibration.png.

Usage: python3 examples/plot_delay_calibration.py [--output DIR]
"""

import pelorin
from camera_readout import make_camera
from multipmt_readout import make_module
from plotting import new_figure, output_directory, save

BURSTS = range(1, 13)  # PEs per burst
RUNS = 300  # simulations per point


def main() -> None:
    output = output_directory(__doc__.splitlines()[0])
    figure, (axes,) = new_figure()
    models: list[tuple[str, pelorin.Tarvex | pelorin.MultiPMT]] = [
        ("Tarvex: window start", make_camera()), ("MultiPMT: hit time", make_module())]
    for label, model in models:
        delays = [model.calibrate_delay(num_pes=pes, num_sim=RUNS) * 1e9 for pes in BURSTS]
        axes.plot(BURSTS, delays, marker="o", label=label)
    axes.set(xlabel="PEs per burst", ylabel="mean delay [ns]", title=f"calibrate_delay, {RUNS} runs per point")
    axes.legend()
    save(figure, output / "delay_calibration.png")


if __name__ == "__main__":
    main()
