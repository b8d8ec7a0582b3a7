"""The models' host API beyond what the property tests explore: argument forms and
keywords, PE lists, the mapping of each failure to its host exception, early triggers."""

import math
import re

import numpy as np
import pytest

import pelorin
from pelorin import DoubleVector, PEListVector
from support import twin_rows

T0, T1, T2 = 2.0**-23, 2.0**-22, 3 * 2.0**-22  # exact in single precision
ROUTED = {  # argument -> the times the model must see, in element order
    "float32": (np.array([T0, T1, T2], dtype=np.float32), [T0, T1, T2]), "zero-d": (np.array(T1), [T1]),
    "transposed": (np.array([[T0, T1], [T2, 9e-7]]).T, [T0, T2, T1, 9e-7]), "empty-2d": (np.empty((0, 3)), []),
}


@pytest.mark.parametrize("name", ROUTED)
def test_time_arguments_arrive_in_element_order_and_keywords_bind(make_model, name):
    argument, times = ROUTED[name]
    got, expected = twin_rows(make_model, lambda m: m.simulate(argument), lambda m: m.simulate(times, channel=0))
    assert got == expected and len(got) == len(times) and {r[0] for r in got} <= {0}
    if hasattr(make_model(), "simulate_external_trigger"):  # trigger times take the same route
        got, expected = twin_rows(make_model, lambda m: m.simulate_external_trigger([T1], argument, 4e-8, 2),
                                  lambda m: m.simulate_external_trigger(pe_times=[T1], trigger_times=times,
                                                                        readout_window=4e-8, channel=2))
        assert got == expected and [r[0] for r in got] == [2] * len(times)


def test_pe_list_equals_consecutive_calls(make_model):
    pes = PEListVector([(3, [T0, T2]), (1, [T1])])
    got, expected = twin_rows(make_model,
                              lambda m: [*m.simulate_pe_list(PEListVector()), *m.simulate_pe_list(pe_list=pes)],
                              lambda m: [*m.simulate([T0, T2], 3), *m.simulate([T1], 1)])  # an empty list draws nothing
    assert got == expected and [r[0] for r in got] == [3, 3, 1]
    model = make_model()
    assert model.calibrate_delay(num_pes=2, num_sim=4) == make_model().calibrate_delay(2, 4)
    assert {type(r).__name__ for r in (model.simulate_pe_list(PEListVector()), model.simulate(T0))} == {
        type(model).__name__ + "TriggerVector"}


def call(method, *args, **kwargs):
    return method, args, kwargs


BOTH, CAMERA, MODULE = ("tarvex", "multipmt"), ("tarvex",), ("multipmt",)
FAILURES = [  # (models, constructor overrides, call on the model or None, host exception, message pattern)
    (BOTH, dict(amplitude_spectrum="/nonexistent/a"), None, RuntimeError, "^Failed to open spectrum file: /nonexi"),
    (BOTH, {}, call("calibrate_delay", 0, 4), RuntimeError,
     r"^Too many simulations did not produce a valid trigger\. Calibration failed\.$"),
    (BOTH, {}, call("calibrate_delay", 2**64 - 1, 1), ValueError, None),  # no vector holds that many PEs
    (BOTH, {}, call("simulate", np.array([T0, math.nan])), ValueError, "pe_times"),
    (BOTH, {}, call("simulate_pe_list", PEListVector([(0, [math.inf])])), ValueError, "pe_times"),
    (CAMERA, dict(early_handling=pelorin.THROW), call("simulate_pe_list", PEListVector([(0, [1e-7]), (1, [-3e-8])])),
     RuntimeError, r"^Early trigger at -\d+\.\d{6}s\.$"),
    (CAMERA, {}, call("simulate_external_trigger", [], [0.0, -1.0], 1e-8), RuntimeError,
     r"^External trigger time cannot be negative: -1\.000000s\.$"),
    (CAMERA, {}, call("simulate_external_trigger", [], [1e-7], -1e-8), ValueError, None),
    (CAMERA, {}, call("simulate_external_trigger", [], np.array([math.nan]), 1e-8), ValueError, "trigger_times"),
    *[(CAMERA, {key: value}, None, TypeError, None) for key, value in [
        ("early_handling", 2), ("trigger_kernel", (1, 1)), ("trigger_kernel", np.array([1, 1])),
        ("trigger_kernel", [1.5]), ("seed", 2**31), ("waveform_samples", 16.0)]],
    *[(MODULE, {key: value}, None, TypeError, None) for key, value in [("adc_jitter", 0.0),
                                                                       ("early_handling", pelorin.WARN)]],
    *[(BOTH, {}, method_call, TypeError, None) for method_call in [
        call("simulate", ["a"]), call("simulate", [T0], 1.5), call("simulate", [T0], channel=2**31),
        call("calibrate_delay", num_pes=-1, num_sim=10), call("calibrate_delay", 10, 10.0),
        call("calibrate_delay", 2**64, 1), call("simulate_pe_list", [(0, [T0])]),
        call("simulate_pe_list", [(0, DoubleVector([T0]))])]],
    (BOTH, dict(time_spectrum=3), None, TypeError, None),
]


@pytest.mark.parametrize("kind, overrides, method_call, error, pattern", [  # ids: model, case, method or argument
    pytest.param(kind, *case, id=f"{kind}-{number}-{case[1][0] if case[1] else next(iter(case[0]))}")
    for number, (kinds, *case) in enumerate(FAILURES) for kind in kinds])
def test_failures_raise_the_mapped_host_error(request, kind, overrides, method_call, error, pattern):
    with pytest.raises(error, match=pattern):
        model = request.getfixturevalue(f"make_{kind}")(**overrides)
        if method_call:
            method, args, kwargs = method_call
            getattr(model, method)(*args, **kwargs)


def test_accepted_kinds_and_required_arguments(arguments, make_tarvex):
    # The positional order is the documented one: the docstring test compares the bound names with it.
    def simulate(model):
        return model.simulate([1e-7, 4e-7])

    got, expected = twin_rows(lambda: make_tarvex(trigger_kernel=pelorin.IntVector([1, 1]), gain=50, seed=np.int32(42),
                                                  early_handling=pelorin.THROW), simulate, simulate, make_tarvex)
    assert got == expected != []
    for name in arguments["multipmt"]:  # none has a default
        with pytest.raises(TypeError):
            pelorin.MultiPMT(**{key: value for key, value in arguments["multipmt"].items() if key != name})


DECREASING, NEGATIVE = "3e-8 1\n2e-8 1\n1e-8 1\n", "1e-8 1\n2e-8 -1\n3e-8 1\n"  # spectrum file contents
NARROW, STEEP = "0 0\n1e-300 1e300\n2e-300 0\n", "3.83e-8 0.2\n3.84e-8 2.78e307\n3.85e-8 0.1\n"  # drew NaN delays
MENDED = {  # every checked argument at least once: zero, negative and non-finite steps, values beyond range
    "tarvex": dict(pmt_time_step=0.0, adc_step=0.5e-9, trigger_norm=0, gain=math.nan, offset=1e300, noise=math.inf,
                   preamp_clip=math.inf, clip=1e12, time_spectrum=DECREASING, amplitude_spectrum=NEGATIVE),
    "multipmt": dict(pmt_time_step=math.nan, tot_step=-1e-9, adc_step=math.inf, sample_delay=math.nan,
                     tot_jitter=math.inf, adc_gain=-math.inf, adc_offset=math.inf, adc_noise=math.nan, adc_clip=1e12,
                     time_spectrum=NEGATIVE, amplitude_spectrum=DECREASING),
}


@pytest.mark.parametrize("kind, name, value", [(kind, *entry) for kind in MENDED for entry in MENDED[kind].items()] +
                         [("tarvex", "time_spectrum", NARROW), ("multipmt", "amplitude_spectrum", STEEP)])
def test_unusable_constructor_input_names_the_culprit(request, tmp_path, kind, name, value):
    expected = ValueError, rf"\b{name}\b"
    if isinstance(value, str):  # the content of a bad spectrum file
        (path := tmp_path / "bad.txt").write_text(value)
        value, expected = path, (RuntimeError, re.escape(str(path)))
    with pytest.raises(expected[0], match=expected[1]):
        request.getfixturevalue(f"make_{kind}")(**{name: value})


@pytest.mark.parametrize("handling, zeroed", [(pelorin.IGNORE, 0), (pelorin.WARN, 0), (None, 0), (pelorin.ZERO, 1)])
def test_early_trigger_handling(make_tarvex, capfd, handling, zeroed):
    def simulate(model):
        return model.simulate([-3e-8, 1e-7])  # the first readout window opens before time 0

    overrides = {} if handling is None else {"early_handling": handling}
    got, late = twin_rows(lambda: make_tarvex(**overrides), simulate, simulate,
                          lambda: make_tarvex(early_handling=pelorin.IGNORE))
    assert got[zeroed:] == late != [] and len(got) == len(late) + zeroed and all(r[1:3] == (0, 0) for r in got[:zeroed])
    out, err = capfd.readouterr()
    warned = re.fullmatch(r"\[Warning\] Ignoring early trigger at -\S+ s\.\n", err)
    assert out == "" and (bool(warned) if handling in (None, pelorin.WARN) else err == "")
