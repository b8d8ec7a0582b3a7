"""The models' host API beyond what the property tests explore: the host exception of each failure,
unusable constructor input, argument kinds, early triggers."""

import math
import re

import numpy as np
import pytest

import pelorin
from pelorin import PEListVector
from support import value_of

BOTH, CAMERA, MODULE = ("tarvex", "multipmt"), ("tarvex",), ("multipmt",)
FAILURES = [  # (models, constructor overrides, use of the model or None, host exception, message pattern)
    (BOTH, dict(amplitude_spectrum="/nonexistent/a"), None, RuntimeError, "^Failed to open spectrum file: /nonexi"),
    (BOTH, {}, lambda m: m.calibrate_delay(0, 4), RuntimeError,
     r"^Too many simulations did not produce a valid trigger\. Calibration failed\.$"),
    (BOTH, {}, lambda m: m.calibrate_delay(2**64 - 1, 1), ValueError, None),  # no vector holds that many PEs
    (BOTH, {}, lambda m: m.simulate(np.array([1e-7, math.nan])), ValueError, "pe_times"),
    (CAMERA, dict(early_handling=pelorin.THROW), lambda m: m.simulate_pe_list(
        PEListVector([(0, [1e-7]), (1, [-3e-8])])), RuntimeError, r"^Early trigger at -\d+\.\d{6}s\.$"),
    (CAMERA, {}, lambda m: m.simulate_external_trigger([], [0.0, -1.0], 1e-8), RuntimeError,
     r"^External trigger time cannot be negative: -1\.000000s\.$"),
    (CAMERA, {}, lambda m: m.simulate_external_trigger([], [1e-7], -1e-8), ValueError, None),
    (CAMERA, {}, lambda m: m.simulate_external_trigger([], np.array([math.nan]), 1e-8), ValueError, "trigger_times"),
    *[(CAMERA, {key: value}, None, TypeError, None) for key, value in [
        ("early_handling", 2), ("trigger_kernel", (1, 1)), ("trigger_kernel", [1.5]), ("seed", 2**31),
        ("waveform_samples", 16.0)]],
    (MODULE, dict(early_handling=pelorin.WARN), None, TypeError, None),
    (BOTH, dict(time_spectrum=3), None, TypeError, None),
    *[(BOTH, {}, use, TypeError, None) for use in [
        lambda m: m.simulate(["a"]), lambda m: m.simulate([1e-7], 1.5), lambda m: m.simulate([1e-7], channel=2**31),
        lambda m: m.calibrate_delay(num_pes=-1, num_sim=10), lambda m: m.calibrate_delay(2**64, 1),
        lambda m: m.simulate_pe_list([(0, [1e-7])])]],
]


@pytest.mark.parametrize("kind, overrides, use, error, pattern",
                         [(kind, *case) for kinds, *case in FAILURES for kind in kinds])
def test_failures_raise_the_mapped_host_error(make, kind, overrides, use, error, pattern):
    with pytest.raises(error, match=pattern):
        model = make(kind, **overrides)
        if use:
            use(model)


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
def test_unusable_constructor_input_names_the_culprit(make, tmp_path, kind, name, value):
    expected = ValueError, rf"\b{name}\b"
    if isinstance(value, str):  # the content of a bad spectrum file
        (path := tmp_path / "bad.txt").write_text(value)
        value, expected = path, (RuntimeError, re.escape(str(path)))
    with pytest.raises(expected[0], match=expected[1]):
        make(kind, **{name: value})


def test_argument_kinds_and_early_triggers_warn_by_default_on_the_error_stream(make, capfd):
    kinds = dict(trigger_kernel=pelorin.IntVector([1, 1]), gain=50, seed=np.int32(42))
    pes = [-3e-8, 1e-7]  # the first readout window opens before time 0
    expected = value_of(make("tarvex", early_handling=pelorin.IGNORE).simulate(pes))
    assert value_of(make("tarvex", **kinds).simulate(pes)) == value_of(make("tarvex").simulate(pes)) == expected != []
    out, err = capfd.readouterr()
    assert out == "" and re.fullmatch(r"(\[Warning\] Ignoring early trigger at -\S+ s\.\n){2}", err)
