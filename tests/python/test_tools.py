"""The module functions around the models: PE lists in any form, TDC counts, columns for data frames, and the
analog signal a readout digitises."""

import numpy as np
import pytest

import pelorin
from support import value_of

CHANNELS = np.array([4, 1, 4, 4, 1, 9])
TIMES = np.array([2e-7, 1e-7, 2.02e-7, 9e-7, 3e-6, 5e-7])
FORMS = {
    "pair": (CHANNELS, TIMES),
    "mapping": {4: TIMES[[0, 2, 3]], 1: TIMES[[1, 4]], 9: TIMES[5:]},
    "PEListVector": pelorin.pe_list_from_arrays(CHANNELS, TIMES),
}


@pytest.mark.parametrize("kind", ["tarvex", "multipmt"])
@pytest.mark.parametrize("form", FORMS)
def test_every_pe_list_form_reads_out_as_the_method_and_the_analog_signal_draws_nothing(make, kind, form):
    model, twin = make(kind), make(kind)
    signal = pelorin.analog_signal(model, TIMES)  # from a copy of the engine
    records = pelorin.simulate_pe_list(model, FORMS[form])
    assert value_of(records) == value_of(twin.simulate_pe_list(FORMS["PEListVector"]))
    assert value_of(model.simulate(TIMES)) == value_of(twin.simulate(TIMES))  # the sequences went on alike
    assert set(signal) == {"time", "adc", "adc_baseline"} | (set() if kind == "tarvex" else {"tot_time", "tot"})


def test_the_analog_signal_is_what_the_next_readout_digitises(make):
    # Without noise and jitter every sample of an external window is the ADC input at its time, rounded.
    camera, twin = make("tarvex", noise=0.0, jitter=0), make("tarvex", noise=0.0, jitter=0)
    pes = np.array([1.003e-7, 1.2e-7, 3e-7])
    signal = pelorin.analog_signal(twin, pes)
    record = camera.simulate_external_trigger(pes, [0.0], 4e-7)[0]
    level = dict(zip(np.round(signal["time"] / 1e-9).astype(int), signal["adc"]))
    expected = [np.floor(level.get(4 * q, signal["adc_baseline"]) + 0.5) for q in range(len(record.waveform))]
    assert list(record.waveform) == expected and max(expected) > 60


def test_tdc_counts_and_columns_hold_the_record_values(make):
    hits = make("multipmt").simulate(np.linspace(1e-7, 5e-6, 40))
    plain, counted = pelorin.records_to_array(hits), pelorin.records_to_array(hits, tot_step=2e-9)
    assert counted.dtype.names == (*plain.dtype.names, "time_count", "tot_count") and len(hits) > 10
    assert all(np.array_equal(plain[name], counted[name]) for name in plain.dtype.names)
    assert np.array_equal(counted["time_count"] * 2e-9, plain["time"])  # the TDC reports count x step
    assert np.allclose(counted["tot_count"] * 2e-9, plain["time_over_threshold"], rtol=0, atol=1e-15)
    columns = pelorin.records_to_columns(hits, tot_step=2e-9)
    assert list(columns) == list(counted.dtype.names)
    assert all(np.array_equal(columns[name], counted[name]) and columns[name].flags.c_contiguous for name in columns)

    windows = make("tarvex").simulate_external_trigger(TIMES, [0.0, 1.001e-7], 1e-7)
    columns, array = pelorin.records_to_columns(windows), pelorin.records_to_array(windows)
    assert columns["waveform"].dtype == object and [list(w) for w in columns["waveform"]] == [
        list(r.waveform) for r in windows] and [w.dtype for w in columns["waveform"]] == [np.uint16] * 2
    assert np.array_equal(columns["intsum"], array["intsum"])
    pandas = pytest.importorskip("pandas")
    assert pandas.DataFrame(columns)["waveform_length"].tolist() == [len(w) for w in columns["waveform"]]
