import gc

import numpy as np
import pytest

import pelorin
from pelorin import DoubleVector, IntVector, PEListVector, uint16Vector


def test_list_conversion_converts_each_item():
    values = list(DoubleVector([1, 2, 3]))
    assert values == [1.0, 2.0, 3.0]
    assert all(type(v) is float for v in values)
    assert list(IntVector([-3, 2**31 - 1])) == [-3, 2**31 - 1]
    assert list(uint16Vector([0, 65535])) == [0, 65535]


@pytest.mark.parametrize(
    "container, items",
    [(IntVector, [1.5]), (IntVector, [2**31]), (uint16Vector, [70000]), (uint16Vector, [-1]), (DoubleVector, ["a"])],
    ids=["int-from-float", "int-overflow", "uint16-above-range", "uint16-negative", "double-from-str"],
)
def test_unconvertible_item_raises_runtime_error(container, items):
    with pytest.raises(RuntimeError):
        container(items)
    kept = container([1])
    with pytest.raises(RuntimeError):
        kept.extend([0] + items)
    assert list(kept) == [1]


def test_unconvertible_list_where_container_expected_is_type_error(make_tarvex, tarvex_records):
    with pytest.raises(TypeError):
        make_tarvex(trigger_kernel=[1.5])
    with pytest.raises(TypeError):
        make_tarvex().simulate(["a"])
    record = tarvex_records[0]
    before = list(record.waveform)
    with pytest.raises(TypeError):
        record.waveform = [70000]
    assert list(record.waveform) == before


@pytest.mark.parametrize(
    "container, expected",
    [(DoubleVector([1.0, 2.5]), "DoubleVector[1, 2.5]"), (DoubleVector(), "DoubleVector[]"),
     (IntVector([-3, 4]), "IntVector[-3, 4]"), (uint16Vector([1, 2]), "uint16Vector[1, 2]")],
    ids=["double", "empty", "int", "uint16"],
)
def test_repr(container, expected):
    assert repr(container) == expected


def test_record_containers_have_no_equality(tarvex_records, multipmt_records):
    for records in (tarvex_records, multipmt_records):
        assert not hasattr(records, "count") and not hasattr(records, "__contains__")
    assert hasattr(pelorin.PEListVector, "count") and hasattr(DoubleVector, "count")


def test_record_view_writes_through_and_keeps_container_alive(tarvex_records, multipmt_records):
    tarvex_records[0].waveform[0] = 7
    tarvex_records[1].channel = -8
    multipmt_records[0].adc_sample = 1234
    assert (tarvex_records[0].waveform[0], tarvex_records[1].channel, multipmt_records[0].adc_sample) == (7, -8, 1234)

    record, samples = tarvex_records[0], tarvex_records[1].waveform
    first_sample = samples[0]
    del tarvex_records
    gc.collect()
    assert record.waveform[0] == 7 and record.channel == 5
    assert samples[0] == first_sample and len(samples) == 16


def test_slices_are_copies(tarvex_records, multipmt_records):
    part = tarvex_records[0:1]
    part[0].waveform[0] = 7
    part[0].channel = 99
    assert tarvex_records[0].channel == 5 and tarvex_records[0].waveform[0] != 7
    samples = tarvex_records[0].waveform
    copy = samples[:]
    copy[0] = 1
    assert samples[0] != 1
    mpart = multipmt_records[:]
    mpart[0].channel = 99
    assert multipmt_records[0].channel == 5


def test_pe_list_accepts_lists_and_double_vectors():
    pes = PEListVector([(0, [1e-7, 2e-7]), (0, DoubleVector([3e-7])), (-4, [])])
    assert [(channel, list(times)) for channel, times in pes] == [(0, [1e-7, 2e-7]), (0, [3e-7]), (-4, [])]
    assert isinstance(pes[0][1], DoubleVector)
    pes[0][1].append(9e-7)  # the tuple's times refer into the container
    assert list(pes[0][1]) == [1e-7, 2e-7, 9e-7]
    assert pes == PEListVector([(0, [1e-7, 2e-7, 9e-7]), (0, [3e-7]), (-4, [])])


def test_pe_list_rejects_array_times():
    with pytest.raises(RuntimeError):
        PEListVector([(0, np.array([1e-7, 2e-7]))])


@pytest.mark.parametrize(
    "pe_list",
    [[(0, [1e-7])], ((0, [1e-7]),), [(0, pelorin.DoubleVector([1e-7]))]],
    ids=["list-of-pairs", "tuple-of-pairs", "list-of-pairs-with-container"],
)
def test_simulate_pe_list_needs_pe_list_container(make_model, pe_list):
    with pytest.raises(TypeError):
        make_model().simulate_pe_list(pe_list)
