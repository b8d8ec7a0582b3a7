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
    assert np.array_equal(pelorin.read_out(make(kind), FORMS[form]), pelorin.records_to_array(records))
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


@pytest.mark.parametrize("kind", ["tarvex", "multipmt"])
def test_truth_accounts_for_every_pe_and_leaves_records_and_draws_alone(make, kind):
    rng = np.random.default_rng(3)
    channels, times = rng.integers(0, 5, 400), rng.uniform(0.0, 2e-5, 400)
    sources = (rng.random(400) < 0.5).astype(np.uint8)
    model, twin = make(kind), make(kind)
    records, truth = pelorin.read_out(model, (channels, times, sources), truth=True)
    assert np.array_equal(records, pelorin.read_out(twin, (channels, times)))
    assert value_of(model.simulate(TIMES)) == value_of(twin.simulate(TIMES))
    order = np.argsort(channels, kind="stable")  # entries in order of first appearance, PEs in array order
    entries = np.unique(channels, return_index=True)[1].argsort()
    grouped = np.concatenate([order[channels[order] == c] for c in np.unique(channels)[entries]])
    assert np.array_equal(truth["time"], times[grouped]) and np.array_equal(truth["source"], sources[grouped])
    inside = truth["record"] >= 0
    assert inside.mean() > 0.8 and truth["record"].max() < len(records)
    assert np.array_equal(records["channel"][truth["record"][inside]], truth["channel"][inside])
    delayed = truth["time"] + truth["delay"]
    if kind == "tarvex":
        start = records["trigger_time_s"] + records["trigger_time_ticks"] * 4e-9  # truncated to 4 ns
        first = start[truth["record"][inside]]
        assert np.all((delayed[inside] >= first - 4e-9) & (delayed[inside] < first + 16 * 4e-9))
    else:
        hit = records[truth["record"][inside]]
        ends = hit["time"] + hit["time_over_threshold"]
        assert np.all((delayed[inside] <= ends) & (delayed[inside] > hit["time"] - 20e-9))


def test_continuous_camera_windows_are_samples_of_the_external_readout_over_the_span(make):
    pes = np.array([1.1e-6, 1.5e-6, 1.5e-6, 2.2e-6])
    camera, twin = make("tarvex", adc_threshold=43), make("tarvex", adc_threshold=43)  # noise triggers too
    windows = pelorin.read_out(camera, {6: pes}, continuous=True, span=(1e-6, 3e-6))
    span = twin.simulate_external_trigger(pes, [1e-6], 2e-6, 6)[0].waveform
    assert len(windows) > 5
    for window in windows:
        offset = round((window["trigger_time_s"] + window["trigger_time_ticks"] * 4e-9 - 1e-6) / 4e-9)
        shown = [list(span[o:o + 16]) for o in (offset - 1, offset, offset + 1) if o >= 0]
        assert list(window["waveform"]) in shown


def test_continuous_readout_of_no_pes_is_a_pedestal_run_where_noise_triggers(make):
    quiet = pelorin.read_out(make("tarvex"), {1: []}, continuous=True, span=(0.0, 1e-4))
    noisy = pelorin.read_out(make("tarvex", adc_threshold=43), {1: []}, continuous=True, span=(0.0, 1e-4))
    assert len(quiet) == 0 and len(noisy) > 50
    samples = noisy["waveform"].astype(float)
    assert abs(samples.mean() - 20.0) < 0.5 and 0.8 < samples.std() < 1.6  # offset 20 LSB, noise 1 LSB
    hits = pelorin.read_out(make("multipmt", tot_noise=0.2), {1: []}, continuous=True, span=(0.0, 1e-5))
    assert len(hits) > 10 and not (hits["adc_sample"] == 0).any()  # every hit's ADC sample carries the offset
    assert len(pelorin.read_out(make("multipmt"), {1: []}, continuous=True)) == 0  # no PEs, no span
