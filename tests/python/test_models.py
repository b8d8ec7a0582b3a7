"""Behaviour that the camera and the MultiPMT bindings share."""

import math
import re

import numpy as np
import pytest

import pelorin

T0, T1, T2 = 2.0**-23, 2.0**-22, 3 * 2.0**-22


def record_container(model):
    return pelorin.TarvexTriggerVector if isinstance(model, pelorin.Tarvex) else pelorin.MultiPMTTriggerVector


def test_simulate_accepts_every_pe_time_kind(make_model, pe_input, pe_times, rows):
    model, twin = make_model(), make_model()
    records = model.simulate(pe_input, 3)
    assert isinstance(records, record_container(model))
    assert rows(records) == rows(twin.simulate(pe_times, 3)) != []
    assert {r.channel for r in records} == {3}


@pytest.mark.parametrize(
    "array, times",
    [
        (np.array([T0, T1, T2])[::-1], [T2, T1, T0]),
        (np.array([T0, -1.0, T1, -1.0, T2])[::2], [T0, T1, T2]),
        (np.array([[T0, T1], [T2, 9e-7]]).T, [T0, T2, T1, 9e-7]),
        (np.array(T1), [T1]),
        (np.array([]), []),
        (np.empty((0, 3)), []),
    ],
    ids=["reversed", "strided", "transposed", "zero-d", "empty", "empty-2d"],
)
def test_array_is_copied_in_element_order(make_model, rows, array, times):
    model, twin = make_model(), make_model()
    assert rows(model.simulate(array)) == rows(twin.simulate(times))
    # Both engines stay in step afterwards.
    assert rows(model.simulate([T0])) == rows(twin.simulate([T0]))


def test_keyword_arguments_and_default_channel(make_model, rows):
    model, twin = make_model(), make_model()
    assert {r.channel for r in make_model().simulate([T0, T1])} == {0}
    assert rows(model.simulate(pe_times=[T0], channel=-7)) == rows(twin.simulate([T0], -7))
    assert model.calibrate_delay(num_pes=2, num_sim=4) == twin.calibrate_delay(2, 4)
    pe_list = pelorin.PEListVector([(1, [T1])])
    assert rows(model.simulate_pe_list(pe_list=pe_list)) == rows(twin.simulate_pe_list(pe_list))


def test_pe_list_equals_consecutive_calls(make_model, rows):
    model, twin = make_model(), make_model()
    empty = model.simulate_pe_list(pelorin.PEListVector())  # draws nothing
    assert isinstance(empty, record_container(model)) and len(empty) == 0
    records = model.simulate_pe_list(pelorin.PEListVector([(3, [T0, T2]), (1, [T1]), (3, [])]))
    assert isinstance(records, record_container(model))
    expected = rows(twin.simulate([T0, T2], 3)) + rows(twin.simulate([T1], 1)) + rows(twin.simulate([], 3))
    assert rows(records) == expected and {r.channel for r in records} == {3, 1}
    records = model.simulate_pe_list(pelorin.generate_pe_list(2, 3, 1e-8))
    times = [0.0, 1e-8, 2e-8]
    assert rows(records) == rows(twin.simulate(times, 0)) + rows(twin.simulate(times, 1)) != []


def test_calibrate_delay(make_model):
    delay = make_model().calibrate_delay(2, 10)
    assert type(delay) is float and 0.0 < delay < 1e-7
    assert make_model().calibrate_delay(2, 10) == delay
    assert math.isnan(make_model().calibrate_delay(0, 1))
    with pytest.raises(RuntimeError, match=r"^Too many simulations did not produce a valid trigger\. Calibration failed\.$"):
        make_model().calibrate_delay(0, 4)
    with pytest.raises(ValueError):  # no vector holds that many PEs
        make_model().calibrate_delay(2**64 - 1, 1)


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {"num_pes": -1, "num_sim": 10}), ((10, -1), {}), ((10, 10.0), {}), ((10,), {}), ((2**64, 1), {})],
    ids=["negative-num-pes", "negative-num-sim", "float-num-sim", "missing-num-sim", "num-pes-above-64-bit"],
)
def test_calibrate_delay_argument_type_errors(make_model, args, kwargs):
    with pytest.raises(TypeError):
        make_model().calibrate_delay(*args, **kwargs)


@pytest.mark.parametrize(
    "args, kwargs",
    [(([T0], 1.5), {}), (([T0],), {"channel": 2**31}), ((["a"],), {}), (([T0],), {"chanel": 1}), ((), {})],
    ids=["float-channel", "channel-overflow", "string-times", "misspelt-keyword", "no-times"],
)
def test_simulate_argument_type_errors(make_model, args, kwargs):
    with pytest.raises(TypeError):
        make_model().simulate(*args, **kwargs)


@pytest.mark.parametrize("bad_time", [math.nan, math.inf, -math.inf, 1e300], ids=["nan", "inf", "-inf", "1e300"])
@pytest.mark.parametrize("as_array", [False, True], ids=["list", "array"])
def test_unusable_pe_time_is_value_error(make_model, bad_time, as_array):
    times = [T0, bad_time]
    with pytest.raises(ValueError, match="pe_times"):
        make_model().simulate(np.array(times) if as_array else times)
    with pytest.raises(ValueError, match="pe_times"):
        make_model().simulate_pe_list(pelorin.PEListVector([(0, times)]))


def test_paths_of_any_kind(make_model, spectra, as_path, rows):
    model = make_model(
        time_spectrum=as_path(spectra["time_spectrum"]), amplitude_spectrum=as_path(spectra["amplitude_spectrum"])
    )
    assert rows(model.simulate([T0, T1])) == rows(make_model().simulate([T0, T1]))


def test_unreadable_files_are_runtime_errors(make_model, tmp_path):
    missing = tmp_path / "absent.txt"
    with pytest.raises(RuntimeError) as error:
        make_model(amplitude_spectrum=missing)
    assert str(error.value).startswith(f"Failed to open spectrum file: {missing}")
    short = tmp_path / "short.txt"
    short.write_text("delay density\n0 1\n1 1\n")
    with pytest.raises(RuntimeError, match=r"^Spectrum file must contain at least two data points\."):
        make_model(time_spectrum=short)


def test_decreasing_abscissae_name_the_file(make_model, tmp_path):
    path = tmp_path / "decreasing.txt"
    path.write_text("3e-8 1\n2e-8 1\n1e-8 1\n")
    with pytest.raises(RuntimeError, match=re.escape(str(path))):
        make_model(time_spectrum=path)
