"""Records as NumPy structured arrays, PE lists from NumPy arrays, and what either conversion refuses."""

import math

import numpy as np
import pytest

import pelorin
from pelorin import PEListVector, pe_list_from_arrays, records_to_array
from support import value_of

PES = [1e-7, 1.1e-7, 4e-7, 9e-7, 2e-6]
READOUTS = {  # name -> (model, records, waveform_samples argument, waveform field width)
    "triggered": ("tarvex", lambda m: m.simulate(PES, 5), None, 16),
    "external, windows of 2 and 3 samples": (
        "tarvex", lambda m: m.simulate_external_trigger(PES, [1e-6, 0.0, 2e-9, 3e-7], 1e-8, -2**31), None, 3),
    "external, padded": ("tarvex", lambda m: m.simulate_external_trigger([], [0.0, 2e-9], 1e-8), 5, 5),
    "triggered, none": ("tarvex", lambda m: m.simulate([]), None, 0),
    "triggered, none, padded": ("tarvex", lambda m: m.simulate([]), 32, 32),
    "multipmt": ("multipmt", lambda m: m.simulate(PES, 2**31 - 1), None, None),
    "multipmt, none": ("multipmt", lambda m: m.simulate([]), None, None),
}


@pytest.mark.parametrize("name", READOUTS)
def test_arrays_equal_the_record_objects(make, name):
    kind, readout, waveform_samples, width = READOUTS[name]
    records = readout(make(kind))
    expected = value_of(records)
    array = records_to_array(records) if waveform_samples is None else records_to_array(records, waveform_samples)
    if width is None:
        assert array.dtype == np.dtype([("time", "f8"), ("channel", "i4"), ("time_over_threshold", "f8"),
                                        ("adc_sample", "u2")], align=True)
        rows = [(channel, time, tot, adc) for time, channel, tot, adc in array.tolist()]
    else:
        assert array.dtype == np.dtype([("channel", "i4"), ("trigger_time_s", "u4"), ("trigger_time_ticks", "u4"),
                                        ("baseline", "f4"), ("intsum", "f4"), ("waveform", "u2", (width,)),
                                        ("waveform_length", "u4")], align=True)
        rows = [(*fields[:5], fields[5][:fields[6]].tolist()) for fields in array.tolist()]  # padding cut off
        assert not (array["waveform"] * (np.arange(width) >= array["waveform_length"][:, None])).any()
    assert array.shape == (len(records),) and rows == expected and value_of(records) == expected


HAND_BUILT = PEListVector([(3, [1e-7, 3e-7]), (-2**31, [2e-7]), (2**31 - 1, [5e-7, 4e-7])])
TIMES = np.array([1e-7, 2e-7, 3e-7, 5e-7, 4e-7])
FROM_ARRAYS = {  # arguments -> entries
    "pairs": ((np.array([3, -2**31, 3, 2**31 - 1, 2**31 - 1]), TIMES), HAND_BUILT),
    "strided, small dtypes": ((np.array([9, 1, 9, 1, 7, 1], np.uint8)[::2], np.arange(6, dtype=np.float32)[::2]),
                              PEListVector([(9, [0.0, 2.0]), (7, [4.0])])),
    "reversed, integer times": ((np.array([2, 1, 2], np.int16)[::-1], np.array([7, 8, 9])[::-1]),
                                PEListVector([(2, [9.0, 7.0]), (1, [8.0])])),
    "mapping": (({3: TIMES[[0, 2]], np.int64(-2**31): [2e-7], 2**31 - 1: TIMES[3:]},), HAND_BUILT),
    "mapping with an empty entry": (({5: np.array([]), 0: np.array([[1.0]]).ravel()},),
                                    PEListVector([(5, []), (0, [1.0])])),
    "empty pairs": (([], np.array([])), PEListVector()), "empty mapping": (({},), PEListVector()),
}


@pytest.mark.parametrize("name", FROM_ARRAYS)
def test_pe_lists_from_arrays_equal_hand_built_ones(name):
    arguments, expected = FROM_ARRAYS[name]
    pe_list = pe_list_from_arrays(*arguments)
    assert isinstance(pe_list, PEListVector) and pe_list == expected


NAN = np.r_[0.0, np.full(10**6, math.nan)]
REFUSED = {  # records_to_array given a camera c and a module m, or pe_list_from_arrays' arguments -> exception
    "records: a long list": (lambda c, m: records_to_array(NAN.tolist()), TypeError, "not list"),
    "records: made by __new__": (lambda c, m: records_to_array(pelorin.MultiPMTTriggerVector.__new__(
        pelorin.MultiPMTTriggerVector)), TypeError, "holds no value"),
    "field too narrow": (lambda c, m: records_to_array(c.simulate_external_trigger([], [0.0, 2e-9], 1e-8), 2),
                         ValueError, "waveform_samples is 2 but a window holds 3 samples"),
    "field for module records": (lambda c, m: records_to_array(m.simulate(PES), 3), ValueError, "camera records only"),
    "negative field": (lambda c, m: records_to_array(c.simulate([]), -1), ValueError, "between 0 and"),
    "field beyond 64 bits": (lambda c, m: records_to_array(c.simulate([]), 2**70), ValueError, "between 0 and"),
    "float field": (lambda c, m: records_to_array(c.simulate([]), 3.0), TypeError, "must be an int, not float"),
    "one long list": ((NAN.tolist(),), TypeError, "give a mapping"),
    "a mapping with times": (({1: [1.0]}, [1.0]), TypeError, "not a mapping"),
    "lengths differ": (([1, 2], [1.0]), ValueError, r"differ in length \(2 and 1\)"),
    "nan times": (([1] * len(NAN), NAN), ValueError, "times hold a non-finite value at index 1"),
    "infinite mapped time": (({4: [0.0, -math.inf]},), ValueError, "times of channel 4 hold a non-finite value"),
    "channel beyond int32": (([1, 2**31], [1.0, 2.0]), ValueError, "channel 2147483648 lies outside"),
    "uint64 channel": ((np.array([2**64 - 1], np.uint64), [1.0]), ValueError, "18446744073709551615 lies outside"),
    "key beyond int32": (({-2**31 - 1: [1.0]},), ValueError, "channel key -2147483649 lies outside"),
    "key beyond int64": (({2**70: [1.0]},), ValueError, "a channel key lies outside"),
    "float channels": ((np.array([1.0]), [1.0]), TypeError, "channels must be integers, not dtype float64"),
    "float key": (({1.5: [1.0]},), TypeError, "channel keys must be integers, not float"),
    "string times": (([1], ["a"]), TypeError, "times must be real numbers, not dtype str"),
    "scalar times": (([1], 1.0), ValueError, "times must be one-dimensional, not 0-dimensional"),
    "ragged times": (({1: [1.0, [2.0, 3.0]]},), ValueError, "times of channel 1 do not form an array"),
}


@pytest.mark.parametrize("name", REFUSED)
def test_conversions_refuse_with_short_messages(make, name):
    conversion, error, message = REFUSED[name]
    with pytest.raises(error, match=message) as raised:
        conversion(make("tarvex"), make("multipmt")) if callable(conversion) else pe_list_from_arrays(*conversion)
    assert len(str(raised.value)) < 120  # large arguments are not echoed
