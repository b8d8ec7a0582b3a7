#!/usr/bin/env python3
"""A quick look inside a camera readout: the analog signal, the windows read from it.

`draw_analog_signal` draws the ADC's input for a model and one channel's PE times, as
`pelorin.analog_signal` gives it (drawn from a copy of the model, so the model's own
random sequence is untouched and its next readout of the same PEs digitises exactly this
signal); `draw_window` draws one record of `records_to_array` on the same time axis. Both
take any matplotlib Axes; import them from here (with examples/ on `sys.path`) or copy them.

Run as a script, it writes two PNG files:

- quick_look.png: the dark counts and the flash of one channel of camera_readout.py,
  the analog signal and every window that the digital trigger read out of it.
- window_behind_window.png: a threshold crossing inside a window (at least
  retrigger_offset samples after its trigger) gives a trigger placed right behind that
  window; the pulse that crossed is over by then, and the second window holds only the
  noiseless offset that fills the samples after the last pulse.

Usage: python3 examples/plot_quick_look.py [--output DIR]
"""

from typing import Any

import numpy as np
import numpy.typing as npt
from matplotlib.axes import Axes

import camera_readout as setup
import pelorin
from plotting import new_figure, output_directory, save

NS = 1e9


def window_start(record: np.void) -> float:
    """Start of a record's window in seconds."""
    return float(record["trigger_time_s"] + record["trigger_time_ticks"] * pelorin.TarvexTrigger.SECONDS_PER_TICK)


def offset_only(records: npt.NDArray[np.void]) -> npt.NDArray[np.bool_]:
    """Windows that hold nothing but the trailing offset fill: no sample of a pulse."""
    fill = np.trunc(np.maximum(records["baseline"], 0)).astype(np.uint16)
    return np.asarray((records["waveform"] == fill[:, None]).all(axis=1))


def draw_analog_signal(axes: Axes, model: Any, pe_times: npt.ArrayLike, start: float, stop: float) -> None:
    """The ADC's input before noise between start and stop (seconds), and the PE times."""
    signal = pelorin.analog_signal(model, pe_times)
    # Sparse: the input is adc_baseline wherever no shaped pulse reaches.
    step = np.diff(signal["time"]).min(initial=1e-9) if len(signal["time"]) > 1 else 1e-9
    grid = np.arange(start, stop, step)
    level = np.full(grid.shape, signal["adc_baseline"])
    index = np.round((signal["time"] - start) / step).astype(np.int64)
    inside = (index >= 0) & (index < len(grid))
    level[index[inside]] = signal["adc"][inside]
    axes.plot(grid * NS, level, color="tab:gray", linewidth=1, label="analog signal (ADC input)")
    times = np.asarray(pe_times, dtype=float)
    shown = times[(times >= start) & (times < stop)]
    axes.plot(shown * NS, np.full(shown.shape, signal["adc_baseline"]), "|", color="tab:red", markersize=12,
              label="PE times")
    axes.set(xlabel="time [ns]", ylabel="LSB")


def draw_window(axes: Axes, record: np.void, adc_step: float, label: str | None = None) -> None:
    """One camera window on the time axis of draw_analog_signal: its samples as steps."""
    samples = record["waveform"][:record["waveform_length"]]
    times = window_start(record) + np.arange(len(samples)) * adc_step
    axes.plot(times * NS, samples, drawstyle="steps-mid", marker=".", label=label)
    axes.axvspan(times[0] * NS, (times[-1] + adc_step) * NS, color="tab:blue", alpha=0.06)


def main() -> None:
    directory = output_directory(__doc__.splitlines()[0])
    camera = setup.make_camera()
    pe_times = setup.make_pe_times(np.random.default_rng(2026))
    channel = setup.FLASH_CHANNELS[0]
    times = pe_times[channel]

    # The flash and its neighbourhood; the signal comes from a copy of the camera, the
    # records from the camera itself: the same draws.
    start, stop = setup.FLASH_TIME - 150e-9, setup.FLASH_TIME + 350e-9
    figure, (axes,) = new_figure(width=9.0, height=3.8)
    draw_analog_signal(axes, camera, times, start, stop)
    records = pelorin.records_to_array(camera.simulate(times, channel))
    for record in records:
        if start <= window_start(record) < stop:
            draw_window(axes, record, setup.ADC_STEP)
    axes.set(title=f"channel {channel}: analog signal and the windows read from it", xlim=(start * NS, stop * NS))
    axes.legend(loc="upper right", fontsize="small")
    save(figure, directory / "quick_look.png")

    # A window behind a window: the first offset-only record of the dark counts and its
    # predecessor, each channel read out by a camera fresh from its seed.
    for channel, times in pe_times.items():
        records = pelorin.records_to_array(setup.make_camera().simulate(times, channel))
        behind = np.flatnonzero(offset_only(records)[1:]) + 1
        if len(behind):
            first, second = records[behind[0] - 1], records[behind[0]]
            break
    start = window_start(first) - 40e-9
    stop = window_start(second) + setup.SAMPLES * setup.ADC_STEP + 40e-9
    figure, (axes,) = new_figure(width=9.0, height=3.8)
    draw_analog_signal(axes, setup.make_camera(), times, start, stop)
    draw_window(axes, first, setup.ADC_STEP, label="triggered window")
    draw_window(axes, second, setup.ADC_STEP, label="window behind it: offset only")
    axes.axhline(setup.camera_arguments()["adc_threshold"] / 3, color="tab:purple", linestyle=":",
                 label="threshold per sample (3-sample sum)")
    axes.set(title=f"channel {channel}: a second trigger placed behind the first window",
             xlim=(start * NS, stop * NS))
    axes.legend(loc="upper right", fontsize="small")
    save(figure, directory / "window_behind_window.png")


if __name__ == "__main__":
    main()
