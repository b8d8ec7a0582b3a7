"""The host API beyond the property tests: model failures, unusable constructor input, argument kinds, early
triggers, refused items and field values, lifetimes, objects made by __new__, the import, NumPy conversions."""

import contextlib
import gc
import math
import re
import subprocess
import sys
import sysconfig

import numpy as np
import pytest

import pelorin
from pelorin import DoubleVector, IntVector, PEListVector, pe_list_from_arrays, records_to_array, uint16Vector
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
    *[(kinds, {key: value}, None, TypeError, None) for kinds, key, value in [
        (CAMERA, "early_handling", 2), (CAMERA, "trigger_kernel", (1, 1)), (CAMERA, "trigger_kernel", [1.5]),
        (CAMERA, "seed", 2**31), (CAMERA, "waveform_samples", 16.0), (MODULE, "early_handling", pelorin.WARN),
        (BOTH, "time_spectrum", 3)]],
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


FILE_ERRORS = [  # (model, file argument, content, message, what the message adds after the path)
    ("tarvex", "time_spectrum", "time density\n1e-8 1\n2e-8 1\n",
     "Spectrum file must contain at least two data points.",
     ': reading stopped at line 1, "time density"; the format has no header line.'),
    ("tarvex", "pulse_shape", "0 0\n2e-9 1\n4e-9 0\n", "Pulse shape time step does not match PMT step.",
     ": points 1 and 2 lie 2e-09 s apart, pmt_time_step is 1e-09 s."),
    ("multipmt", "tot_pulse_shape", "0 0\n1e-9 1\n2e-9 0\n", "ToT pulse shape time step does not match ToT step.",
     ": points 1 and 2 lie 1e-09 s apart, tot_step is 2e-09 s."),
]


@pytest.mark.parametrize("kind, name, content, message, found", FILE_ERRORS)
def test_file_errors_open_with_their_message_then_name_the_file_and_what_is_wrong(make, tmp_path, kind, name, content,
                                                                                   message, found):
    (path := tmp_path / "bad.txt").write_text(content)
    with pytest.raises(RuntimeError) as error:
        make(kind, **{name: path})
    assert str(error.value) == f"{message} {path}{found}"  # no text of the stream's error category


def test_argument_kinds_and_early_triggers_warn_by_default_on_the_error_stream(make, capfd):
    kinds = dict(trigger_kernel=pelorin.IntVector([1, 1]), gain=50, seed=np.int32(42))
    pes = [-3e-8, 1e-7]  # the first readout window opens before time 0
    expected = value_of(make("tarvex", early_handling=pelorin.IGNORE).simulate(pes))
    assert value_of(make("tarvex", **kinds).simulate(pes)) == value_of(make("tarvex").simulate(pes)) == expected != []
    out, err = capfd.readouterr()
    assert out == "" and re.fullmatch(r"(\[Warning\] Ignoring early trigger at -\S+ s\.\n){2}", err)


def test_items_and_field_values_out_of_range_are_refused_and_scalar_containers_print(records):
    for container, item in [(IntVector, 1.5), (IntVector, 2**31), (uint16Vector, 70000), (uint16Vector, -1),
                            (DoubleVector, "a"), (PEListVector, (0, np.array([1e-7])))]:
        pytest.raises(RuntimeError, container, [item]).match(f"{container.__name__} cannot hold item 0")
    for kind, name, value, stored in [  # stored None: refused, the field keeps its value
            ("tarvex", "trigger_time_s", -1, None), ("tarvex", "trigger_time_s", 2**32, None),
            ("tarvex", "trigger_time_ticks", 3.0, None), ("tarvex", "channel", 2**31, None),
            ("tarvex", "waveform", [70000], None), ("tarvex", "waveform", [1, 65535], uint16Vector([1, 65535])),
            ("multipmt", "adc_sample", 65536, None), ("multipmt", "time", 1, 1.0)]:
        record = records[kind][0]
        expected = repr(getattr(record, name) if stored is None else stored)  # repr tells 1 from 1.0
        with pytest.raises(TypeError) if stored is None else contextlib.nullcontext():
            setattr(record, name, value)
        assert repr(getattr(record, name)) == expected, (name, value)
    assert [repr(c) for c in (DoubleVector([1.0, 2.5]), DoubleVector(), IntVector([-3, 4]), uint16Vector([1, 2]))] == [
        "DoubleVector[1, 2.5]", "DoubleVector[]", "IntVector[-3, 4]", "uint16Vector[1, 2]"]


def test_sample_views_write_through_slices_copy_and_views_keep_their_container_alive(records):
    camera, multipmt, pes = records.pop("tarvex"), records["multipmt"], PEListVector([(0, [1e-7])])  # sole references
    camera[0].waveform[0], camera[:1][0].channel, camera[0].waveform[:][1], multipmt[:][0].channel = 7, 99, 1, 99
    pes[:][0][1].clear()
    assert (camera[0].channel, camera[0].waveform[1] != 1, multipmt[0].channel) == (5, True, 5)
    assert value_of(pes) == [(0, [1e-7])]
    record, samples, first, times = camera[0], camera[1].waveform, camera[1].waveform[0], pes[0][1]
    del camera, pes
    gc.collect()
    assert (record.waveform[0], record.channel, samples[0], len(samples), list(times)) == (7, 5, first, 16, [1e-7])


def test_objects_made_without_init_raise_type_error_and_tick_is_read_only(records, make):
    uses = {pelorin.Tarvex: lambda o: o.simulate([1e-7]), pelorin.MultiPMT: lambda o: o.calibrate_delay(1, 1),
            pelorin.TarvexTrigger: lambda o: setattr(o, "waveform", [1, 2, 3]),
            pelorin.MultiPMTTrigger: lambda o: o.time, pelorin.EarlyHandling: lambda o: o.value}
    containers = [value for value in vars(pelorin).values() if isinstance(value, type) and value not in uses]
    for cls, use in {**uses, **dict.fromkeys(containers, len), **{type(iter(c())): next for c in containers}}.items():
        pytest.raises(TypeError, use, cls.__new__(cls)).match("made by __new__ without __init__")
    for record_class in (pelorin.TarvexTrigger, pelorin.MultiPMTTrigger):  # records come from containers only
        pytest.raises(TypeError, record_class)
    for owner in (pelorin.TarvexTrigger, records["tarvex"][0]):
        pytest.raises(AttributeError, setattr, owner, "SECONDS_PER_TICK", 1.0)
        assert owner.SECONDS_PER_TICK == 4e-9
    gc.collect()
    assert len(make("tarvex").simulate([1e-7])) == 1  # the heap is intact


def test_generate_pe_list_takes_keywords_and_refuses_lists_beyond_memory():
    assert pelorin.generate_pe_list(num_channels=-3, pes_per_channel=5, time_interval=1e-9) == PEListVector()
    for channels, pes in [(2**31 - 1, 2**31 - 1), (2**30, 2**20)]:  # more than any machine holds
        pytest.raises(MemoryError, pelorin.generate_pe_list, channels, pes, 1e-9).match(
            f"{channels} channels of {pes} PEs need .* GiB, more than the")


def test_a_second_import_gives_the_same_module_and_a_free_threaded_interpreter_keeps_the_gil_disabled():
    code = ("import sys, pelorin as a; del sys.modules['pelorin']; import pelorin as b; "
            "print(a is b, getattr(sys, '_is_gil_enabled', lambda: True)())")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert run.stdout.split() == ["True", str(not sysconfig.get_config_var("Py_GIL_DISABLED"))]


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
    "empty entry": (({5: np.array([]), 0: np.array([[1.0]]).ravel()},), PEListVector([(5, []), (0, [1.0])])),
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
    "step for camera records": (lambda c, m: records_to_array(c.simulate([]), tot_step=1e-9), ValueError,
                                "MultiPMT records only"),
    "zero step": (lambda c, m: pelorin.records_to_columns(m.simulate([]), 0.0), ValueError, "positive"),
    "not the records' step": (lambda c, m: records_to_array(m.simulate(PES), tot_step=3e-9), ValueError,
                              r"time of record 0 \(.*\) is not a whole number of tot_step"),
    "PE list as a list": (lambda c, m: pelorin.simulate_pe_list(m, [[1], [1e-7]]), TypeError, "not list"),
    "signal of a string": (lambda c, m: pelorin.analog_signal("camera", PES), TypeError, "not str"),
    "span without continuous": (lambda c, m: pelorin.read_out(c, {1: PES}, span=(0, 1e-6)), ValueError,
                                "continuous=True"),
    "span before the start": (lambda c, m: pelorin.read_out(m, {1: PES}, continuous=True, span=(-1e-6, 1e-6)),
                              ValueError, "span start must be at least 0"),
    "span as one number": (lambda c, m: pelorin.read_out(c, {1: PES}, continuous=True, span=1e-6), TypeError,
                           "pair .start, stop."),
    "span beyond the range": (lambda c, m: pelorin.read_out(c, {1: PES}, continuous=True, span=(0, 1e7)),
                              ValueError, "span stop"),
    "span too long": (lambda c, m: pelorin.read_out(c, {1: PES}, continuous=True, span=(0, 100.0)),
                      ValueError, "more than 2\\^31 samples"),
    "source beyond a byte": (lambda c, m: pelorin.read_out(c, ([1], [1e-7], [256])), ValueError,
                             "source label 256"),
}


@pytest.mark.parametrize("name", REFUSED)
def test_conversions_refuse_with_short_messages(make, name):
    conversion, error, message = REFUSED[name]
    with pytest.raises(error, match=message) as raised:
        conversion(make("tarvex"), make("multipmt")) if callable(conversion) else pe_list_from_arrays(*conversion)
    assert len(str(raised.value)) < 200  # large arguments are not echoed
