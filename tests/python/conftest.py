import math

import pytest

import pelorin


def write_columns(path, xs, f):
    path.write_text("".join(f"{x!r} {f(x)!r}\n" for x in xs))
    return path


@pytest.fixture
def arguments(tmp_path):
    """Constructor arguments, in declared order, under which one PE gives one record."""
    gauss = lambda mean, sigma: lambda x: math.exp(-(((x - mean) / sigma) ** 2) / 2)
    alpha = lambda t: t / 4e-9 * math.exp(1 - t / 4e-9)  # peaks at 1.0 after 4 ns
    time = write_columns(tmp_path / "t.txt", [1e-8 + i * 1e-9 for i in range(21)], gauss(2e-8, 3e-9))
    amplitude = write_columns(tmp_path / "a.txt", [0.2 + i * 0.1 for i in range(19)], gauss(1.0, 0.3))
    shape = write_columns(tmp_path / "p.txt", [i * 1e-9 for i in range(20)], alpha)
    tot_shape = write_columns(tmp_path / "tot.txt", [i * 2e-9 for i in range(10)], alpha)
    shared = dict(time_spectrum=time, amplitude_spectrum=amplitude, pmt_time_step=1e-9)
    return {
        "tarvex": dict(**shared, adc_step=4e-9, pulse_shape=shape, jitter=0, gain=50.0, offset=20.0, preamp_clip=4095.0,
                       noise=1.0, clip=4095.0, waveform_samples=16, retrigger_offset=4, trigger_kernel=[1, 1],
                       adc_threshold=60, trigger_norm=1, trigger_offset=-4, seed=42),
        "multipmt": dict(**shared, tot_step=2e-9, tot_pulse_shape=tot_shape, tot_threshold=0.3, tot_dead_time=5e-9,
                         tot_noise=0.01, tot_jitter=1e-10, adc_step=4e-9, adc_pulse_shape=shape, adc_jitter=0,
                         adc_gain=50.0, adc_offset=20.0, adc_noise=1.0, adc_clip=4095.0, sample_delay=4e-9, seed=42),
    }


@pytest.fixture
def make_tarvex(arguments):
    return lambda **overrides: pelorin.Tarvex(**{**arguments["tarvex"], **overrides})


@pytest.fixture
def make_multipmt(arguments):
    return lambda **overrides: pelorin.MultiPMT(**{**arguments["multipmt"], **overrides})


@pytest.fixture(params=["tarvex", "multipmt"])
def make_model(request):
    return request.getfixturevalue(f"make_{request.param}")


def rows(records):  # records define no equality
    return [(r.channel, r.trigger_time_s, r.trigger_time_ticks, r.baseline, r.intsum, list(r.waveform))
            if isinstance(r, pelorin.TarvexTrigger) else (r.channel, r.time, r.time_over_threshold, r.adc_sample)
            for r in records]


@pytest.fixture
def twin():
    """Rows of `first` on a model from `make` and of `second` on an identically seeded one from `make_twin`."""
    return lambda make, first, second, make_twin=None: (rows(first(make())), rows(second((make_twin or make)())))


@pytest.fixture
def records(make_tarvex, make_multipmt):
    return {"tarvex": make_tarvex().simulate([1e-7, 4e-7], 5), "multipmt": make_multipmt().simulate([1e-7, 4e-7], 5)}
