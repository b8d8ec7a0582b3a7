import contextlib
import gc
import subprocess
import sys
import sysconfig

import numpy as np
import pytest

import pelorin
from pelorin import DoubleVector, IntVector, PEListVector, uint16Vector


def test_list_conversion_and_repr():
    assert [(type(v), v) for v in DoubleVector([1, 2, 3])] == [(float, 1.0), (float, 2.0), (float, 3.0)]
    assert list(IntVector([-3, 2**31 - 1])) == [-3, 2**31 - 1] and list(uint16Vector([0, 65535])) == [0, 65535]
    for container, item in [(IntVector, 1.5), (IntVector, 2**31), (uint16Vector, 70000), (uint16Vector, -1),
                            (DoubleVector, "a")]:
        with pytest.raises(RuntimeError):
            container([item])
    containers = DoubleVector([1.0, 2.5]), DoubleVector(), IntVector([-3, 4]), uint16Vector([1, 2])
    assert [repr(c) for c in containers] == ["DoubleVector[1, 2.5]", "DoubleVector[]", "IntVector[-3, 4]",
                                             "uint16Vector[1, 2]"]


def test_record_views_write_through_and_keep_container_alive_but_slices_copy(records):
    camera, multipmt = records.pop("tarvex"), records["multipmt"]  # camera: the only reference
    camera[0].waveform[0], camera[1].channel, multipmt[0].adc_sample = 7, -8, 1234
    camera[:1][0].channel, camera[0].waveform[:][1], multipmt[:][0].channel = 99, 1, 99
    assert (camera[0].waveform[0], camera[1].channel, multipmt[0].adc_sample) == (7, -8, 1234)
    assert (camera[0].channel, camera[0].waveform[1] != 1, multipmt[0].channel) == (5, True, 5)
    record, samples, first = camera[0], camera[1].waveform, camera[1].waveform[0]
    del camera
    gc.collect()
    assert (record.waveform[0], record.channel, samples[0], len(samples)) == (7, 5, first, 16)


def test_pe_list_construction():
    pes = PEListVector([(0, [1e-7, 2e-7]), (0, DoubleVector([3e-7])), (-4, [])])
    pes[0][1].append(9e-7)  # the tuple's times refer into the container
    assert [(channel, list(times)) for channel, times in pes] == [(0, [1e-7, 2e-7, 9e-7]), (0, [3e-7]), (-4, [])]
    with pytest.raises(RuntimeError):
        PEListVector([(0, np.array([1e-7]))])


@pytest.mark.parametrize("args, expected", [
    ((2, 3, 1e-8), [(0, [0.0, 1e-8, 2e-8]), (1, [0.0, 1e-8, 2e-8])]),
    ((1, 10, 0.1), [(0, [i * 0.1 for i in range(10)])]),  # products: 3 * 0.1 != 0.1 + 0.1 + 0.1
    ((1, 3, -1.0), [(0, [0.0, -1.0, -2.0])]), ((0, 5, 1e-9), []), ((-3, 5, 1e-9), []),
    ((3, 0, 1e-9), [(0, []), (1, []), (2, [])]), ((2, -1, 1.0), [(0, []), (1, [])]),
])
def test_generate_pe_list(args, expected):
    pes = pelorin.generate_pe_list(*args)
    assert isinstance(pes, PEListVector) and [(channel, list(times)) for channel, times in pes] == expected


@pytest.mark.parametrize("kind, name, value, stored", [  # stored None: refused, the field keeps its value
    ("tarvex", "trigger_time_s", -1, None), ("tarvex", "trigger_time_s", 2**32, None),
    ("tarvex", "trigger_time_s", 2**32 - 1, 2**32 - 1), ("tarvex", "trigger_time_ticks", 3.0, None),
    ("tarvex", "channel", 2**31, None), ("tarvex", "channel", -(2**31), -(2**31)),
    ("tarvex", "baseline", 0.1, 0.10000000149011612), ("tarvex", "waveform", [70000], None),
    ("tarvex", "waveform", [1, 65535], uint16Vector([1, 65535])), ("multipmt", "adc_sample", 65536, None),
    ("multipmt", "adc_sample", -1, None), ("multipmt", "adc_sample", 65535, 65535), ("multipmt", "channel", 2.5, None),
    ("multipmt", "time", 1, 1.0),
])
def test_record_field_writes(records, kind, name, value, stored):
    record = records[kind][0]
    expected = repr(getattr(record, name) if stored is None else stored)  # repr tells 1 from 1.0
    with pytest.raises(TypeError) if stored is None else contextlib.nullcontext():
        setattr(record, name, value)
    assert repr(getattr(record, name)) == expected


def test_records_are_not_constructible_and_tick_is_read_only(records):
    for record_class in (pelorin.TarvexTrigger, pelorin.MultiPMTTrigger):
        with pytest.raises(TypeError):
            record_class()
    for owner in (pelorin.TarvexTrigger, records["tarvex"][0]):
        with pytest.raises(AttributeError):
            owner.SECONDS_PER_TICK = 1.0
        assert owner.SECONDS_PER_TICK == 4e-9


def run_python(code):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.strip()


def test_second_import_returns_same_module():
    code = "import sys, pelorin as a; del sys.modules['pelorin']; import pelorin as b; print(a is b)"
    assert run_python(code) == "True"


@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="needs a free-threaded interpreter")
def test_import_keeps_gil_disabled():
    assert run_python("import sys, pelorin; print(sys._is_gil_enabled())") == "False"
