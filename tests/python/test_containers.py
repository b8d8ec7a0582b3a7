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


# Regression tests of faults a hostile probe of the host API found.

def contents(container):
    return [value_of(item) for item in container]


@pytest.fixture
def filled(records):
    """One container of each kind holding at least two distinct elements."""
    return {**records, "pe-list": PEListVector([(0, [1e-7, 2e-7]), (1, [3e-7])]), "doubles": DoubleVector([1, 2, 3])}


def test_objects_made_by_new_alone_raise_type_error(make_tarvex):
    uses = {pelorin.Tarvex: lambda o: o.simulate([1e-7]), pelorin.MultiPMT: lambda o: o.calibrate_delay(1, 1),
            pelorin.TarvexTrigger: lambda o: setattr(o, "waveform", [1, 2, 3]),
            pelorin.MultiPMTTrigger: lambda o: o.time, pelorin.EarlyHandling: lambda o: o.value}
    containers = [value for value in vars(pelorin).values() if isinstance(value, type) and value not in uses]
    for cls, use in {**uses, **dict.fromkeys(containers, len), **{type(iter(c())): next for c in containers}}.items():
        with pytest.raises(TypeError, match="made by __new__ without __init__"):
            use(cls.__new__(cls))
    gc.collect()
    assert len(make_tarvex().simulate([1e-7])) == 1  # the heap is intact


def views(container, index):
    """The host objects that refer into element `index`: record or PE times, and a record's samples."""
    if isinstance(container, PEListVector):
        return [container[index][1]]
    return [container[index], *([container[index].waveform] if hasattr(container[index], "waveform") else [])]


def write(view):
    if isinstance(view, (DoubleVector, uint16Vector)):
        view[0] = 7
    else:
        view.channel = 77


@pytest.mark.parametrize("change, survivors", [
    (lambda c: c.clear(), []), (lambda c: c.pop(), [0]), (lambda c: c.pop(0), []),
    (lambda c: c.insert(0, c[1]), []), (lambda c: c.__delitem__(slice(1, None)), [0]),
    (lambda c: c.__setitem__(0, c[1]), [1]), (lambda c: c.__setitem__(slice(None), c), []),
    (lambda c: c.extend([c[0]] * 64), [0, 1]),  # reallocation: views follow their element
], ids=["clear", "pop", "pop-0", "insert-0", "delete-tail", "replace-0", "replace-all", "reallocate"])
@pytest.mark.parametrize("kind", ["tarvex", "multipmt", "pe-list"])
def test_views_outliving_their_element_raise_reference_error(filled, kind, change, survivors):
    container = filled[kind]
    taken = {index: views(container, index) for index in (0, 1)}
    before = {index: [value_of(view) for view in taken[index]] for index in taken}
    change(container)
    for index in taken:
        for view, fresh, value in zip(taken[index], views(container, index) if index in survivors else taken[index],
                                      before[index]):
            if index in survivors:
                assert value_of(view) == value
                write(view)
                assert value_of(view) == value_of(fresh) != value
            else:
                kept = contents(container)
                for use in (value_of, write):
                    with pytest.raises(ReferenceError, match="removed, replaced or shifted"):
                        use(view)
                assert contents(container) == kept


def test_iterating_while_changing_walks_by_index_as_a_list(filled):
    for container in filled.values():
        expected, seen = contents(container), []
        for item in container:
            seen.append(value_of(item))
            container.pop()
        assert seen == expected[:(len(expected) + 1) // 2] and len(container) == len(expected) // 2


@pytest.mark.parametrize("change, expected", [(lambda c: c.extend(c), lambda values: values * 2),
                                              (lambda c: c.__setitem__(slice(None, None, -1), c), reversed)],
                         ids=["extend-with-itself", "reversed-slice-from-itself"])
def test_extend_and_slice_assignment_from_the_container_itself(filled, change, expected):
    for container in filled.values():
        values = contents(container)
        change(container)
        assert contents(container) == list(expected(values))


def test_failed_extend_leaves_the_container_unchanged(filled):
    def failing_entries():
        yield 0, [1e-7]
        raise ValueError("stop")

    for kind, items, error in [("tarvex", [filled["tarvex"][0], None], RuntimeError),
                               ("multipmt", [filled["multipmt"][0], 3], RuntimeError),
                               ("doubles", [4.0, "a"], RuntimeError), ("pe-list", failing_entries(), ValueError)]:
        kept = contents(filled[kind])
        with pytest.raises(error):
            filled[kind].extend(items)
        assert contents(filled[kind]) == kept
    with pytest.raises(RuntimeError, match="IntVector cannot hold item 1, 1.5"):
        IntVector([1, 1.5])


def test_generate_pe_list_beyond_memory_raises_memory_error():
    for channels, pes in [(2**31 - 1, 2**31 - 1), (2**30, 2**20)]:  # more than any machine holds
        with pytest.raises(MemoryError, match=f"{channels} channels of {pes} PEs need .* GiB, more than the"):
            pelorin.generate_pe_list(channels, pes, 1e-9)
