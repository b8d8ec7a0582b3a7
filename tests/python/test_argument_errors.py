"""Calls that match no signature: the TypeError still lists the signatures and ends with a line naming the argument;
pelorin.check_model_arguments and pelorin_dask.ModelArguments refuse the same constructor arguments with that line."""

import re

import numpy as np
import pytest

import pelorin
from pelorin_dask import ModelArguments
from support import MODELS

BOTH, CAMERA, MODULE = ("tarvex", "multipmt"), ("tarvex",), ("multipmt",)
CALLS = [  # (models, call on a model, the last line of the TypeError)
    (BOTH, lambda m: m.simulate([1e-7], channel=7.0),
     r"channel: got 7\.0 \(float\); expected an int \(a float is not taken, even when whole\)"),
    (BOTH, lambda m: m.simulate(np.array([1e-7]), 2**32),
     r"channel: got 4294967296; expected an int in the signed 32-bit range"),
    (BOTH, lambda m: m.simulate([1e-7], chan=3),
     r"unknown keyword 'chan' \(did you mean 'channel'\?\); (Tarvex|MultiPMT)\.simulate takes pe_times, channel"),
    (CAMERA, lambda m: m.simulate_external_trigger([], [0.0], window=1e-7),
     r"unknown keyword 'window' \(did you mean 'readout_window'\?\); Tarvex\.simulate_external_trigger takes "
     r"pe_times, trigger_times, readout_window, channel"),
    (BOTH, lambda m: m.simulate(["a"]), r"pe_times: got \['a'\] \(list\); expected a list of floats, a DoubleVector or "
     r"anything NumPy converts to float64 \(NumPy: ValueError: could not convert string to float: 'a'\)"),
    (BOTH, lambda m: m.simulate_pe_list({3: [1e-6]}), r"pe_list: got dict; expected a PEListVector "
     r"\(pelorin\.simulate_pe_list\(model, pe_list\) also takes a mapping \{channel: times\} or a \(channels, times\) "
     r"pair\)"),
    (BOTH, lambda m: m.calibrate_delay(num_pes=-1, num_sim=10), r"num_pes: got -1; expected a non-negative int"),
    (BOTH, lambda m: m.simulate([1e-7], 1, channel=2), r"argument 'channel' given twice, by position and by keyword"),
    (CAMERA, lambda m: m.calibrate_delay(1, 2, 3),
     r"too many positional arguments: Tarvex\.calibrate_delay takes at most 2 \(num_pes, num_sim\), got 3"),
    (CAMERA, lambda m: pelorin.records_to_array(m.simulate([]), window=3),
     r"unknown keyword 'window'; records_to_array takes records, waveform_samples, tot_step"),
    (CAMERA, lambda m: pelorin.pe_list_from_arrays(channel=[1]),
     r"unknown keyword 'channel' \(did you mean 'channels'\?\); pe_list_from_arrays takes channels, times"),
    (CAMERA, lambda m: pelorin.generate_pe_list(2.0, 1, 1e-9),
     r"num_channels: got 2\.0 \(float\); expected an int \(a float is not taken, even when whole\)"),
]
LEFT_OUT = object()
ARGUMENTS = [  # (models, changes to the constructor arguments but seed, the last line); LEFT_OUT leaves one out
    (CAMERA, dict(trigger_kernel=np.array([1, 1])), r"trigger_kernel: got numpy\.ndarray; expected a list of ints or "
     r"an IntVector \(for an array, pass trigger_kernel\.tolist\(\)\)"),
    (CAMERA, dict(early_handling="ignore"), r"early_handling: got 'ignore' \(str\); expected a "
     r"pelorin\.EarlyHandling member such as pelorin\.EarlyHandling\.IGNORE"),
    (CAMERA, dict(waveform_samples=16.0),
     r"waveform_samples: got 16\.0 \(float\); expected an int \(a float is not taken, even when whole\)"),
    (MODULE, dict(early_handling=pelorin.WARN),
     r"unknown keyword 'early_handling'; MultiPMT\.__init__ takes time_spectrum, amplitude_spectrum, .*, seed"),
    (BOTH, dict(pmt_time_step=LEFT_OUT, pmt_time_stp=1e-9),
     r"unknown keyword 'pmt_time_stp' \(did you mean 'pmt_time_step'\?\); (Tarvex|MultiPMT)\.__init__ takes .*"),
    (BOTH, dict(time_spectrum=LEFT_OUT), r"missing argument 'time_spectrum'"),
    (BOTH, dict(time_spectrum=3), r"time_spectrum: got 3; expected a path \(str, bytes or os\.PathLike\)"),
]


def last_line_after_the_listing(call):
    with pytest.raises(TypeError) as raised:
        call()
    *listing, last = str(raised.value).splitlines()
    assert re.match(r"\w+\(\): incompatible (function|constructor) arguments", listing[0]), listing
    assert re.match(r" +1\. ", listing[1]) and listing[-1].startswith("Invoked with: ")
    return last


@pytest.mark.parametrize("kind, call, line", [(kind, *case) for kinds, *case in CALLS for kind in kinds])
def test_wrong_calls_list_the_signatures_and_end_naming_the_argument(make, kind, call, line):
    model = make(kind)
    assert re.fullmatch(line, last_line_after_the_listing(lambda: call(model)))


@pytest.mark.parametrize("kind, changes, line", [(kind, *case) for kinds, *case in ARGUMENTS for kind in kinds])
def test_wrong_constructor_arguments_are_named_by_the_constructor_the_check_and_model_arguments(
        arguments, kind, changes, line):
    given = {name: value for name, value in {**arguments[kind], **changes}.items() if value is not LEFT_OUT}
    model = MODELS[kind]
    assert re.fullmatch(line, last_line_after_the_listing(lambda: model(**given, seed=1)))
    for check in (pelorin.check_model_arguments, ModelArguments):  # the line alone, on the client
        pytest.raises(TypeError, check, model, **given).match(f"^{line}$")


@pytest.mark.parametrize("kind", MODELS)
def test_correct_calls_work_and_only_the_check_lets_the_seed_be_absent(make, arguments, kind):
    model, given = MODELS[kind], arguments[kind]
    assert pelorin.check_model_arguments(model, **given) is None
    assert len(ModelArguments(model, **given).build(1).simulate(np.array([1e-7]), channel=np.int32(3))) == 1
    assert len(make(kind).simulate_pe_list(pelorin.pe_list_from_arrays({3: [1e-7]}))) == 1
    assert last_line_after_the_listing(lambda: model(**given)) == "missing argument 'seed'"
    pytest.raises(TypeError, pelorin.check_model_arguments, model, **given, seed=2**31).match(
        r"^seed: got 2147483648; expected an int in the signed 32-bit range$")
    pytest.raises(TypeError, pelorin.check_model_arguments, pelorin.DoubleVector).match("pelorin.Tarvex or")
