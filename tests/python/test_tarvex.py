import math
import re

import numpy as np
import pytest

import pelorin
from pelorin import EarlyHandling

EARLY_PES = [-3e-8]  # the readout window of this PE's trigger opens before time 0


def test_positional_arguments_follow_declared_order(make_tarvex, spectra, rows):
    positional = pelorin.Tarvex(
        spectra["time_spectrum"], spectra["amplitude_spectrum"], 1e-9, 4e-9, spectra["pulse_shape"],
        0, 50.0, 20.0, 4095.0, 1.0, 4095.0, 16, 4, [1, 1], 60, 1, -4, 42, EarlyHandling.WARN,
    )
    assert rows(positional.simulate([1e-7, 4e-7])) == rows(make_tarvex().simulate([1e-7, 4e-7]))


TYPE_ERRORS = [
    {"early_handling": 2}, {"early_handling": "WARN"}, {"trigger_kernel": (1, 1)}, {"trigger_kernel": np.array([1, 1])},
    {"waveform_samples": 16.0}, {"jitter": 0.0}, {"seed": 2**31}, {"pmt_time_step": "1e-9"}, {"time_spectrum": 3},
]


@pytest.mark.parametrize("overrides", TYPE_ERRORS, ids=lambda o: "-".join(f"{k}={v!r}" for k, v in o.items()))
def test_constructor_type_errors(make_tarvex, overrides):
    with pytest.raises(TypeError):
        make_tarvex(**overrides)


def test_constructor_accepted_kinds(make_tarvex, rows):
    reference = rows(make_tarvex().simulate([1e-7]))
    for overrides in ({"trigger_kernel": pelorin.IntVector([1, 1])}, {"early_handling": pelorin.THROW},
                      {"gain": 50, "seed": np.int32(42)}):
        assert rows(make_tarvex(**overrides).simulate([1e-7])) == reference


MENDED = [
    ("pmt_time_step", 0.0), ("pmt_time_step", math.nan), ("pmt_time_step", math.inf), ("adc_step", 0.5e-9),
    ("trigger_norm", 0), ("gain", math.nan), ("noise", math.inf), ("offset", 1e300), ("clip", 1e12),
]


@pytest.mark.parametrize("name, value", MENDED, ids=[f"{n}={v}" for n, v in MENDED])
def test_unusable_constructor_argument_is_value_error(make_tarvex, name, value):
    with pytest.raises(ValueError, match=rf"\b{name}\b"):
        make_tarvex(**{name: value})


@pytest.mark.parametrize(
    "handling, extra",
    [(EarlyHandling.IGNORE, 0), (EarlyHandling.WARN, 0), (None, 0), (EarlyHandling.ZERO, 1)],
    ids=["ignore", "warn", "default", "zero"],
)
def test_early_trigger_handling(make_tarvex, rows, capfd, handling, extra):
    pes = EARLY_PES + [1e-7]
    late = rows(make_tarvex(early_handling=EarlyHandling.IGNORE).simulate(pes))
    records = (make_tarvex() if handling is None else make_tarvex(early_handling=handling)).simulate(pes)
    assert len(records) == len(late) + extra
    assert rows(records)[extra:] == late
    if extra:
        assert (records[0].trigger_time_s, records[0].trigger_time_ticks) == (0, 0)
    out, err = capfd.readouterr()
    assert out == ""
    if handling in (None, EarlyHandling.WARN):
        match = re.fullmatch(r"\[Warning\] Ignoring early trigger at (\S+) s\.\n", err)
        assert match and float(match.group(1)) < 0
    else:
        assert err == ""


def test_throw_on_early_trigger(make_tarvex):
    model = make_tarvex(early_handling=pelorin.THROW)
    with pytest.raises(RuntimeError, match=r"^Early trigger at -\d+\.\d{6}s\.$"):
        model.simulate(EARLY_PES + [1e-7])
    with pytest.raises(RuntimeError, match=r"^Early trigger at "):
        model.simulate_pe_list(pelorin.PEListVector([(0, [1e-7]), (1, EARLY_PES)]))


@pytest.mark.parametrize(
    "pe_times, trigger_times",
    [([1e-7], [1e-7, 0.0]), (pelorin.DoubleVector([1e-7]), pelorin.DoubleVector([1e-7, 0.0])),
     ((1e-7,), (1e-7, 0.0)), (np.array([1e-7]), np.array([1e-7, 0.0])), ([1e-7], np.array([1e-7, 0.0]))],
    ids=["list", "DoubleVector", "tuple", "array", "mixed"],
)
def test_external_trigger_argument_kinds(make_tarvex, rows, pe_times, trigger_times):
    records = make_tarvex().simulate_external_trigger(pe_times, trigger_times, 6.4e-8, 2)
    expected = make_tarvex().simulate_external_trigger(
        pe_times=[1e-7], trigger_times=[1e-7, 0.0], readout_window=6.4e-8, channel=2
    )
    assert isinstance(records, pelorin.TarvexTriggerVector)
    assert rows(records) == rows(expected)
    assert [(r.channel, r.trigger_time_ticks) for r in records] == [(2, int(1e-7 / 4e-9)), (2, 0)]


def test_external_trigger_windows(make_tarvex):
    records = make_tarvex().simulate_external_trigger([], [0.0, 2e-9], 1e-8)
    assert [len(r.waveform) for r in records] == [2, 3]
    # Forced readout: offset and noise, not zeros, where no pulse is.
    assert all(10 < s < 30 for r in records for s in r.waveform)
    assert records[0].channel == 0
    assert len(make_tarvex().simulate_external_trigger([1e-7], [], 1e-8)) == 0


def test_external_trigger_errors(make_tarvex):
    model = make_tarvex()
    with pytest.raises(RuntimeError, match=r"^External trigger time cannot be negative: -1\.000000s\.$"):
        model.simulate_external_trigger([], [0.0, -1.0], 1e-8)
    with pytest.raises(ValueError):
        model.simulate_external_trigger([], [1e-7], -1e-8)
    with pytest.raises(ValueError, match="trigger_times"):
        model.simulate_external_trigger([], [math.nan], 1e-8)
    with pytest.raises(ValueError, match="readout_window"):
        model.simulate_external_trigger([], [1e-7], math.nan)
    with pytest.raises(ValueError, match="pe_times"):
        model.simulate_external_trigger(np.array([math.inf]), np.array([1e-7]), 1e-8)
    with pytest.raises(TypeError):
        model.simulate_external_trigger([], [1e-7])
