import math
import pathlib

import numpy as np
import pytest

import pelorin

# PE times exactly representable in single precision (about 119, 238 and 715 ns), so
# every accepted kind of argument carries the same doubles.
PE_TIMES = [2.0**-23, 2.0**-22, 3 * 2.0**-22]


def write_columns(path, xs, ys):
    path.write_text("".join(f"{x!r} {y!r}\n" for x, y in zip(xs, ys)))
    return path


def gauss(x, mean, sigma):
    return math.exp(-0.5 * ((x - mean) / sigma) ** 2)


def alpha_pulse(n, rise):
    """u * exp(1 - u) with u = i / rise: a pulse peaking at 1.0 after `rise` samples."""
    return [(i / rise) * math.exp(1.0 - i / rise) for i in range(n)]


@pytest.fixture
def spectra(tmp_path):
    delays = [10e-9 + i * 1e-9 for i in range(21)]
    amplitudes = [0.2 + i * 0.1 for i in range(19)]
    return {
        "time_spectrum": write_columns(tmp_path / "time.txt", delays, [gauss(d, 20e-9, 3e-9) for d in delays]),
        "amplitude_spectrum": write_columns(
            tmp_path / "amplitude.txt", amplitudes, [gauss(a, 1.0, 0.3) for a in amplitudes]
        ),
        # 20 samples at pmt_time_step (1 ns), 10 samples at tot_step (2 ns).
        "pulse_shape": write_columns(tmp_path / "pulse.txt", [i * 1e-9 for i in range(20)], alpha_pulse(20, 4)),
        "tot_pulse_shape": write_columns(tmp_path / "tot.txt", [i * 2e-9 for i in range(10)], alpha_pulse(10, 2)),
    }


@pytest.fixture
def tarvex_arguments(spectra):
    """Camera settings under which one PE gives one trigger; constructor order."""
    return dict(
        time_spectrum=spectra["time_spectrum"], amplitude_spectrum=spectra["amplitude_spectrum"],
        pmt_time_step=1e-9, adc_step=4e-9, pulse_shape=spectra["pulse_shape"], jitter=0, gain=50.0,
        offset=20.0, preamp_clip=4095.0, noise=1.0, clip=4095.0, waveform_samples=16, retrigger_offset=4,
        trigger_kernel=[1, 1], adc_threshold=60, trigger_norm=1, trigger_offset=-4, seed=42,
    )


@pytest.fixture
def multipmt_arguments(spectra):
    """MultiPMT settings under which one PE gives one ToT hit; constructor order."""
    return dict(
        time_spectrum=spectra["time_spectrum"], amplitude_spectrum=spectra["amplitude_spectrum"],
        pmt_time_step=1e-9, tot_step=2e-9, tot_pulse_shape=spectra["tot_pulse_shape"], tot_threshold=0.3,
        tot_dead_time=5e-9, tot_noise=0.01, tot_jitter=1e-10, adc_step=4e-9,
        adc_pulse_shape=spectra["pulse_shape"], adc_jitter=0, adc_gain=50.0, adc_offset=20.0, adc_noise=1.0,
        adc_clip=4095.0, sample_delay=4e-9, seed=42,
    )


@pytest.fixture
def make_tarvex(tarvex_arguments):
    return lambda **overrides: pelorin.Tarvex(**{**tarvex_arguments, **overrides})


@pytest.fixture
def make_multipmt(multipmt_arguments):
    return lambda **overrides: pelorin.MultiPMT(**{**multipmt_arguments, **overrides})


@pytest.fixture(params=["tarvex", "multipmt"])
def make_model(request):
    """Either model's factory, for behaviour both bindings share."""
    return request.getfixturevalue(f"make_{request.param}")


@pytest.fixture
def rows():
    """Records as comparable tuples (records define no equality)."""

    def row(r):
        if isinstance(r, pelorin.TarvexTrigger):
            return (r.channel, r.trigger_time_s, r.trigger_time_ticks, r.baseline, r.intsum, list(r.waveform))
        return (r.time, r.channel, r.time_over_threshold, r.adc_sample)

    return lambda records: [row(r) for r in records]


@pytest.fixture(params=[str, pathlib.Path, lambda p: str(p).encode()], ids=["str", "Path", "bytes"])
def as_path(request):
    return request.param


PE_INPUTS = {
    "list": lambda: list(PE_TIMES),
    "DoubleVector": lambda: pelorin.DoubleVector(PE_TIMES),
    "tuple": lambda: tuple(PE_TIMES),
    "float64": lambda: np.array(PE_TIMES),
    "float32": lambda: np.array(PE_TIMES, dtype=np.float32),
}


@pytest.fixture(params=list(PE_INPUTS))
def pe_input(request):
    """A PE-time argument of each accepted kind, all holding PE_TIMES."""
    return PE_INPUTS[request.param]()


@pytest.fixture
def pe_times():
    return list(PE_TIMES)


@pytest.fixture
def tarvex_records(make_tarvex):
    records = make_tarvex().simulate(PE_TIMES, 5)
    assert len(records) == 3
    return records


@pytest.fixture
def multipmt_records(make_multipmt):
    records = make_multipmt().simulate(PE_TIMES, 5)
    assert len(records) == 3
    return records
