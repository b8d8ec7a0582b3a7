import pytest

import pelorin

REFUSED = [
    ("tarvex", "trigger_time_s", -1), ("tarvex", "trigger_time_s", 2**32), ("tarvex", "trigger_time_ticks", 3.0),
    ("tarvex", "channel", 2**31), ("tarvex", "channel", 1.0), ("multipmt", "adc_sample", 65536),
    ("multipmt", "adc_sample", -1), ("multipmt", "adc_sample", 3.0), ("multipmt", "channel", 2.5),
]


@pytest.mark.parametrize("kind, name, value", REFUSED, ids=[f"{k}-{n}={v!r}" for k, n, v in REFUSED])
def test_out_of_range_write_is_refused_and_keeps_value(request, kind, name, value):
    record = request.getfixturevalue(f"{kind}_records")[0]
    old = getattr(record, name)
    with pytest.raises(TypeError):
        setattr(record, name, value)
    assert getattr(record, name) == old


def test_tarvex_record_fields_round_trip(tarvex_records):
    record = tarvex_records[0]
    record.baseline = 0.1
    assert record.baseline == 0.10000000149011612  # stored in single precision
    record.trigger_time_s, record.channel, record.intsum = 2**32 - 1, -(2**31), -2.5
    assert (record.trigger_time_s, record.channel, record.intsum) == (2**32 - 1, -(2**31), -2.5)
    record.waveform = [1, 65535]
    assert isinstance(record.waveform, pelorin.uint16Vector) and list(record.waveform) == [1, 65535]
    samples = pelorin.uint16Vector([3])
    record.waveform = samples
    samples[0] = 4  # the record holds a copy
    assert list(tarvex_records[0].waveform) == [3]


def test_multipmt_record_fields_round_trip(multipmt_records):
    record = multipmt_records[0]
    record.adc_sample, record.time, record.time_over_threshold = 65535, 1, -3
    assert record.adc_sample == 65535
    assert type(record.time) is float and (record.time, record.time_over_threshold) == (1.0, -3.0)


@pytest.mark.parametrize("record_class", [pelorin.TarvexTrigger, pelorin.MultiPMTTrigger], ids=lambda c: c.__name__)
def test_records_are_not_constructible_and_have_no_equality(record_class):
    with pytest.raises(TypeError):
        record_class()
    assert record_class.__eq__ is object.__eq__


def test_seconds_per_tick_is_a_read_only_class_constant(tarvex_records):
    record = tarvex_records[0]
    assert pelorin.TarvexTrigger.SECONDS_PER_TICK == 4e-9 == record.SECONDS_PER_TICK
    with pytest.raises(AttributeError):
        pelorin.TarvexTrigger.SECONDS_PER_TICK = 1.0
    with pytest.raises(AttributeError):
        record.SECONDS_PER_TICK = 1.0
    assert pelorin.TarvexTrigger.SECONDS_PER_TICK == 4e-9
