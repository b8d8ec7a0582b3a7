"""Dark counts and afterpulses from the host: the columns feed the PE-list functions and the models, sources label
every PE, and bad arguments are refused with messages that name them."""

import numpy as np
import pytest

import pelorin


@pytest.fixture(scope="module")
def delays(tmp_path_factory):
    path = tmp_path_factory.mktemp("afterpulses") / "delays.txt"
    path.write_text("1e-6 0\n3e-6 1\n")  # rising from 1 to 3 us
    return path


@pytest.mark.parametrize("kind", ["tarvex", "multipmt"])
def test_dark_counts_and_their_afterpulses_feed_the_pe_list_functions_and_the_models(make, delays, kind):
    dark = pelorin.dark_counts(1e6, 0.0, 2e-5, 4, seed=3)
    assert (dark[0].dtype, dark[1].dtype) == (np.int32, np.float64) and 40 < len(dark[1]) < 130
    channels, times, sources = pelorin.add_afterpulses(pelorin.merge_pes((np.array([2]), [1e-6]), dark), 0.5,
                                                       delays, seed=4)
    assert sources.dtype == np.uint8 and list(sources[:len(dark[1]) + 1]) == [0] + [1] * len(dark[1])
    assert set(sources[len(dark[1]) + 1:]) == {2}
    records = pelorin.simulate_pe_list(make(kind), (channels, times))
    assert {record.channel for record in records} <= {0, 1, 2, 3} and len(records) > 10
    pe_list = pelorin.pe_list_from_arrays(*dark)
    assert [channel for channel, _ in pe_list] == [0, 1, 2, 3]  # channel after channel
    assert all(np.all(np.diff(pe_times) >= 0) for _, pe_times in pe_list)


def test_per_channel_rates_and_given_labels():
    rates, channels = np.array([0.0, 1e4, 1e5]), np.array([7, 3, 5])
    pes_channels, times = pelorin.dark_counts(rates, 0.0, 0.01, channels, 1)
    assert list(dict.fromkeys(pes_channels)) == [3, 5]
    for channel, mean in [(3, 100), (5, 1000)]:
        assert abs(np.count_nonzero(pes_channels == channel) - mean) < 5 * mean**0.5
    assert times.min() >= 0.0 and times.max() < 0.01
    assert np.array_equal(pelorin.dark_counts(rates, 0.0, 0.01, channels, 1)[1], times)
    merged = pelorin.merge_pes(([1], [0.5], [2]), ([4, 4], [0.1, 0.2], np.array([9, 1], dtype=np.int64)))
    assert [list(column) for column in merged] == [[1, 4, 4], [0.5, 0.1, 0.2], [2, 9, 1]]


REFUSALS = [
    (pelorin.dark_counts, (-1.0, 0.0, 1.0, 4, 1), ValueError, "rate must be a finite, non-negative number of Hz"),
    (pelorin.dark_counts, ([1.0, 2.0], 0.0, 1.0, 3, 1), ValueError, "rates hold 2 values for 3 channels"),
    (pelorin.dark_counts, (1.0, 1.0, 0.5, 4, 1), ValueError, r"stop \(0.5 s\) lies before start \(1 s\)"),
    (pelorin.dark_counts, (1.0, 0.0, 1.0, [2**31], 1), ValueError, "channel 2147483648 lies outside the signed"),
    (pelorin.dark_counts, (1.0, 0.0, 1.0, [0.5], 1), TypeError, "channels must be integers, not dtype float64"),
    (pelorin.dark_counts, (1.0, 0.0, 1.0, 4, 2**31), ValueError, "seed 2147483648 lies outside the signed"),
    (pelorin.dark_counts, (1e300, 0.0, 1.0, 4, 1), MemoryError, "The dark counts of this call would need"),
    (pelorin.merge_pes, (([1, 2], [0.1]), ([], [])), ValueError, r"signal channels and times differ .*\(2 and 1\)"),
    (pelorin.merge_pes, (([1], [0.1]), ([1], [0.2], [256])), ValueError, "dark source 256 lies outside 0 to 255"),
    (pelorin.merge_pes, (([1], [np.nan]), ([], [])), ValueError, "signal times hold a non-finite value at index 0"),
    (pelorin.merge_pes, ([[1], [0.1]], ([], [])), TypeError, r"signal must be a tuple \(channels, times\)"),
]


@pytest.mark.parametrize(("function", "arguments", "error", "message"), REFUSALS)
def test_bad_arguments_are_refused_naming_the_problem(function, arguments, error, message):
    with pytest.raises(error, match=message):
        function(*arguments)


def test_afterpulse_refusals_name_the_probability_and_the_spectrum(delays, tmp_path):
    pes = (np.array([1, 2]), np.array([0.0, 1e-6]))
    with pytest.raises(ValueError, match="probability must lie between 0 and 1, got 1.5"):
        pelorin.add_afterpulses(pes, 1.5, delays, 1)
    with pytest.raises(RuntimeError, match=f"Failed to open spectrum file: {tmp_path / 'none.txt'}. No such file"):
        pelorin.add_afterpulses(pes, 0.5, tmp_path / "none.txt", 1)
    with pytest.raises(ValueError, match=r"pes channels, times and sources differ in length \(2, 2 and 1\)"):
        pelorin.add_afterpulses((*pes, [0]), 0.5, delays, 1)
