#!/usr/bin/env python3
"""Write the example spectrum and pulse-shape files into examples/data/.

Every file is two whitespace-separated columns "x y", one pair per line, with no
header: the reader takes numbers in pairs and stops at the first word it cannot
parse. The shapes are analytic, so the files can be regenerated at any time:

time_spectrum.txt
    PMT transit-time delay in seconds: a Gaussian of mean 40 ns and sigma 1 ns,
    sampled over +-4 sigma on 81 points (0.1 ns apart). The mean is long enough
    that a camera readout window opening 8 ADC samples (32 ns) before the trigger
    of a PE at time 0 does not start before time 0.
amplitude_spectrum.txt
    Single-PE amplitude in normalised units (1 = mean single-PE pulse): a Gaussian
    around 1.0 with sigma 0.3 plus an exponential under-amplified component (PEs
    that miss the first dynode), x from 0 to 3 on 61 points.
pulse_shape.txt
    Camera electronics pulse, (t / 2 tau)^2 exp(2 - t / tau) with tau = 2.5 ns
    (peak 1 at 5 ns), 0 to 40 ns at the PMT step of 1 ns.
adc_pulse_shape.txt
    MultiPMT ADC pulse, same form with tau = 3 ns (peak 1 at 6 ns), 0 to 50 ns at
    the PMT step of 1 ns.
tot_pulse_shape.txt
    MultiPMT discriminator pulse, same form with tau = 4 ns (peak 1 at 8 ns),
    0 to 60 ns at tot_step = 1 ns. The ToT kernel step equals the PMT step, so
    every tap lands on its own analog sample; a 0.5 ns step on the 1 ns analog grid
    would fold two taps onto one sample and double the response. A single PE of
    amplitude 1 stays above 0.3 for about 14 ns, longer than a 10 ns dead time, so
    the time over threshold still grows with the amplitude.
afterpulse_delays.txt
    Afterpulse delay in seconds, for add_afterpulses: two ion-feedback groups,
    Gaussians at 1 us (sigma 0.15 us) and 4 us (sigma 0.6 us) with half the weight,
    0 to 8 us on 161 points (50 ns apart).

Pulse-shape abscissae are k * step written with repr, so each one reads back as
exactly the double k * step and the spacing check against the model step passes.

Usage: python3 examples/make_example_data.py [output_dir]
"""

import pathlib
import sys
from typing import Any

import numpy as np
import numpy.typing as npt

NS = 1e-9
PMT_TIME_STEP = 1 * NS
TOT_STEP = 1 * NS

Array = npt.NDArray[np.floating[Any]]
Columns = tuple[Array, Array]


def time_spectrum(mean: float = 40 * NS, sigma: float = 1 * NS, points: int = 81) -> Columns:
    x = np.linspace(mean - 4 * sigma, mean + 4 * sigma, points)
    return x, np.exp(-0.5 * ((x - mean) / sigma) ** 2)


def amplitude_spectrum(mean: float = 1.0, sigma: float = 0.3, under_fraction: float = 0.15, under_scale: float = 0.25,
                       points: int = 61) -> Columns:
    x = np.linspace(0.0, 3.0, points)
    gauss = np.exp(-0.5 * ((x - mean) / sigma) ** 2) / (sigma * np.sqrt(2 * np.pi))
    under = np.exp(-x / under_scale) / under_scale
    return x, (1 - under_fraction) * gauss + under_fraction * under


def afterpulse_delays(points: int = 161) -> Columns:
    x = np.linspace(0.0, 8000 * NS, points)
    density = np.zeros_like(x)
    for weight, mean, sigma in [(1.0, 1000 * NS, 150 * NS), (0.5, 4000 * NS, 600 * NS)]:
        density += weight / sigma * np.exp(-0.5 * ((x - mean) / sigma) ** 2)  # group areas in the weights' ratio
    return x, density


def pulse(tau: float, length: float, step: float) -> Columns:
    """(t / 2 tau)^2 exp(2 - t / tau): zero at t = 0, peak 1 at t = 2 tau."""
    k = np.arange(int(round(length / step)) + 1)
    t = k * step
    return t, (t / (2 * tau)) ** 2 * np.exp(2 - t / tau)


def write_columns(path: pathlib.Path, x: Array, y: Array) -> None:
    lines = (f"{float(a)!r} {float(b)!r}\n" for a, b in zip(x, y))
    path.write_text("".join(lines))


def main(argv: list[str]) -> None:
    out = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).resolve().parent / "data"
    out.mkdir(parents=True, exist_ok=True)
    files = {
        "time_spectrum.txt": time_spectrum(),
        "amplitude_spectrum.txt": amplitude_spectrum(),
        "pulse_shape.txt": pulse(2.5 * NS, 40 * NS, PMT_TIME_STEP),
        "adc_pulse_shape.txt": pulse(3 * NS, 50 * NS, PMT_TIME_STEP),
        "tot_pulse_shape.txt": pulse(4 * NS, 60 * NS, TOT_STEP),
        "afterpulse_delays.txt": afterpulse_delays(),
    }
    for name, (x, y) in files.items():
        assert np.all(np.isfinite(y)) and np.all(y >= 0) and np.all(np.diff(x) > 0)
        write_columns(out / name, x, y)
        print(f"{out / name}: {len(x)} points")


if __name__ == "__main__":
    main(sys.argv)
