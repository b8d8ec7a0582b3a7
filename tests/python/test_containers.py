"""Host containers and records beyond what the list-mirroring property test explores:
refused items and field values, lifetimes, objects made by __new__ alone, the module's import."""

import contextlib
import gc
import subprocess
import sys
import sysconfig

import numpy as np
import pytest

import pelorin
from pelorin import DoubleVector, IntVector, PEListVector, uint16Vector
from support import value_of

FIELD_WRITES = [  # (model, field, value, stored value, or None: refused, the field keeps its value)
    ("tarvex", "trigger_time_s", -1, None), ("tarvex", "trigger_time_s", 2**32, None),
    ("tarvex", "trigger_time_s", 2**32 - 1, 2**32 - 1), ("tarvex", "trigger_time_ticks", 3.0, None),
    ("tarvex", "channel", 2**31, None), ("tarvex", "channel", -(2**31), -(2**31)),
    ("tarvex", "baseline", 0.1, 0.10000000149011612), ("tarvex", "waveform", [70000], None),
    ("tarvex", "waveform", [1, 65535], uint16Vector([1, 65535])), ("multipmt", "adc_sample", 65536, None),
    ("multipmt", "adc_sample", -1, None), ("multipmt", "adc_sample", 65535, 65535), ("multipmt", "time", 1, 1.0),
]


def test_items_and_field_values_out_of_range_are_refused_and_scalar_containers_print(records):
    for container, item in [(IntVector, 1.5), (IntVector, 2**31), (uint16Vector, 70000), (uint16Vector, -1),
                            (DoubleVector, "a"), (PEListVector, (0, np.array([1e-7])))]:
        with pytest.raises(RuntimeError, match=f"{container.__name__} cannot hold item 0"):
            container([item])
    for kind, name, value, stored in FIELD_WRITES:
        record = records[kind][0]
        expected = repr(getattr(record, name) if stored is None else stored)  # repr tells 1 from 1.0
        with pytest.raises(TypeError) if stored is None else contextlib.nullcontext():
            setattr(record, name, value)
        assert repr(getattr(record, name)) == expected, (name, value)
    assert [repr(c) for c in (DoubleVector([1.0, 2.5]), DoubleVector(), IntVector([-3, 4]), uint16Vector([1, 2]))] == [
        "DoubleVector[1, 2.5]", "DoubleVector[]", "IntVector[-3, 4]", "uint16Vector[1, 2]"]


def test_views_write_through_and_keep_their_container_alive_but_slices_copy(records):
    camera, multipmt = records.pop("tarvex"), records["multipmt"]  # camera: the only reference
    camera[0].waveform[0], camera[1].channel, multipmt[0].adc_sample = 7, -8, 1234
    camera[:1][0].channel, camera[0].waveform[:][1], multipmt[:][0].channel = 99, 1, 99
    pes = PEListVector([(0, [1e-7]), (-4, [])])
    pes[1][1].append(9e-7)  # a pair's times refer into the container, a slice's are a copy
    pes[:][0][1].clear()
    assert (camera[0].waveform[0], camera[1].channel, multipmt[0].adc_sample) == (7, -8, 1234)
    assert (camera[0].channel, camera[0].waveform[1] != 1, multipmt[0].channel) == (5, True, 5)
    assert value_of(pes) == [(0, [1e-7]), (-4, [9e-7])]
    record, samples, first, times = camera[0], camera[1].waveform, camera[1].waveform[0], pes[1][1]
    del camera, pes
    gc.collect()
    assert (record.waveform[0], record.channel, samples[0], len(samples), list(times)) == (7, 5, first, 16, [9e-7])


def test_objects_made_without_init_raise_type_error_and_tick_is_read_only(records, make):
    uses = {pelorin.Tarvex: lambda o: o.simulate([1e-7]), pelorin.MultiPMT: lambda o: o.calibrate_delay(1, 1),
            pelorin.TarvexTrigger: lambda o: setattr(o, "waveform", [1, 2, 3]),
            pelorin.MultiPMTTrigger: lambda o: o.time, pelorin.EarlyHandling: lambda o: o.value}
    containers = [value for value in vars(pelorin).values() if isinstance(value, type) and value not in uses]
    for cls, use in {**uses, **dict.fromkeys(containers, len), **{type(iter(c())): next for c in containers}}.items():
        with pytest.raises(TypeError, match="made by __new__ without __init__"):
            use(cls.__new__(cls))
    for record_class in (pelorin.TarvexTrigger, pelorin.MultiPMTTrigger):
        with pytest.raises(TypeError):
            record_class()
    for owner in (pelorin.TarvexTrigger, records["tarvex"][0]):
        with pytest.raises(AttributeError):
            owner.SECONDS_PER_TICK = 1.0
        assert owner.SECONDS_PER_TICK == 4e-9
    gc.collect()
    assert len(make("tarvex").simulate([1e-7])) == 1  # the heap is intact


def test_generate_pe_list_takes_keywords_and_refuses_lists_beyond_memory():
    assert pelorin.generate_pe_list(num_channels=-3, pes_per_channel=5, time_interval=1e-9) == PEListVector()
    for channels, pes in [(2**31 - 1, 2**31 - 1), (2**30, 2**20)]:  # more than any machine holds
        with pytest.raises(MemoryError, match=f"{channels} channels of {pes} PEs need .* GiB, more than the"):
            pelorin.generate_pe_list(channels, pes, 1e-9)


def test_a_second_import_gives_the_same_module_and_a_free_threaded_interpreter_keeps_the_gil_disabled():
    code = ("import sys, pelorin as a; del sys.modules['pelorin']; import pelorin as b; "
            "print(a is b, getattr(sys, '_is_gil_enabled', lambda: True)())")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert run.stdout.split() == ["True", str(not sysconfig.get_config_var("Py_GIL_DISABLED"))]
