"""Helpers shared by the Python tests: model arguments from written spectra, comparable values."""

import math

import pelorin

MODELS = {"tarvex": pelorin.Tarvex, "multipmt": pelorin.MultiPMT}


def write_columns(path, xs, f):
    path.write_text("".join(f"{x!r} {f(x)!r}\n" for x in xs))
    return path


def model_arguments(directory):
    """Constructor arguments but the seed, under which one PE gives one record."""
    time = write_columns(directory / "t.txt", [1e-8 + i * 1e-9 for i in range(21)],
                         lambda t: math.exp(-(((t - 2e-8) / 3e-9) ** 2) / 2))
    amplitude = write_columns(directory / "a.txt", [0.2 + i * 0.1 for i in range(19)],
                              lambda a: math.exp(-(((a - 1.0) / 0.3) ** 2) / 2))
    shape, tot_shape = (write_columns(directory / name, [i * step for i in range(count)],
                                      lambda t: t / 4e-9 * math.exp(1 - t / 4e-9))  # peaks at 1.0 after 4 ns
                        for name, step, count in [("p.txt", 1e-9, 20), ("tot.txt", 2e-9, 10)])
    shared = dict(time_spectrum=time, amplitude_spectrum=amplitude, pmt_time_step=1e-9)
    return {
        "tarvex": dict(**shared, adc_step=4e-9, pulse_shape=shape, jitter=0, gain=50.0, offset=20.0, preamp_clip=4095.0,
                       noise=1.0, clip=4095.0, waveform_samples=16, retrigger_offset=4, trigger_kernel=[1, 1],
                       adc_threshold=60, trigger_norm=1, trigger_offset=-4),
        "multipmt": dict(**shared, tot_step=2e-9, tot_pulse_shape=tot_shape, tot_threshold=0.3, tot_dead_time=5e-9,
                         tot_noise=0.01, tot_jitter=1e-10, adc_step=4e-9, adc_pulse_shape=shape, adc_jitter=0,
                         adc_gain=50.0, adc_offset=20.0, adc_noise=1.0, adc_clip=4095.0, sample_delay=4e-9),
    }


def value_of(item):
    """Comparable value (records define no equality): a record's fields, channel first; a PE-list entry
    as (channel, times); a number as is; a container or list as the values of its elements."""
    if isinstance(item, pelorin.TarvexTrigger):
        return (item.channel, item.trigger_time_s, item.trigger_time_ticks, item.baseline, item.intsum,
                list(item.waveform))
    if isinstance(item, pelorin.MultiPMTTrigger):
        return item.channel, item.time, item.time_over_threshold, item.adc_sample
    if isinstance(item, tuple):
        return item[0], list(item[1])
    return item if isinstance(item, (int, float)) else [value_of(element) for element in item]
