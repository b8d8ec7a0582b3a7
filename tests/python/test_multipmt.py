import math

import pytest

import pelorin

CONSTRUCTOR_ARGS = [
    "time_spectrum", "amplitude_spectrum", "pmt_time_step", "tot_step", "tot_pulse_shape", "tot_threshold",
    "tot_dead_time", "tot_noise", "tot_jitter", "adc_step", "adc_pulse_shape", "adc_jitter", "adc_gain",
    "adc_offset", "adc_noise", "adc_clip", "sample_delay", "seed",
]


def test_positional_arguments_follow_declared_order(multipmt_arguments, make_multipmt, rows):
    assert list(multipmt_arguments) == CONSTRUCTOR_ARGS
    positional = pelorin.MultiPMT(*multipmt_arguments.values())
    assert rows(positional.simulate([1e-7, 4e-7])) == rows(make_multipmt().simulate([1e-7, 4e-7]))


@pytest.mark.parametrize("missing", CONSTRUCTOR_ARGS)
def test_every_constructor_argument_is_required(multipmt_arguments, missing):
    del multipmt_arguments[missing]
    with pytest.raises(TypeError):
        pelorin.MultiPMT(**multipmt_arguments)


def test_no_camera_features(make_multipmt):
    assert not hasattr(pelorin.MultiPMT, "simulate_external_trigger")
    with pytest.raises(TypeError):
        make_multipmt(early_handling=pelorin.WARN)


@pytest.mark.parametrize(
    "overrides",
    [{"adc_jitter": 0.0}, {"seed": 42.0}, {"seed": -(2**31) - 1}, {"tot_pulse_shape": None}],
    ids=["float-adc-jitter", "float-seed", "seed-overflow", "none-path"],
)
def test_constructor_type_errors(make_multipmt, overrides):
    with pytest.raises(TypeError):
        make_multipmt(**overrides)


MENDED = [
    ("tot_step", 0.0), ("pmt_time_step", math.nan), ("adc_step", 0.5e-9), ("sample_delay", math.nan),
    ("tot_jitter", math.inf), ("adc_gain", math.nan), ("adc_clip", 1e12),
]


@pytest.mark.parametrize("name, value", MENDED, ids=[f"{n}={v}" for n, v in MENDED])
def test_unusable_constructor_argument_is_value_error(make_multipmt, name, value):
    with pytest.raises(ValueError, match=rf"\b{name}\b"):
        make_multipmt(**{name: value})
