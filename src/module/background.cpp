#include "module/bindings.hpp"

#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "module/pe_arrays.hpp"
#include "pelorin/background.hpp"

namespace pelorin::bindings {
namespace {

/// The vector's elements as a NumPy array that owns them, without a copy.
template <typename T>
py::array_t<T> owning_array(std::vector<T>&& values) {
    auto owned = std::make_unique<std::vector<T>>(std::move(values));
    const py::capsule base(owned.get(), [](void* vector) { delete static_cast<std::vector<T>*>(vector); });
    auto* vector = owned.release();  // the capsule frees it now
    return py::array_t<T>(static_cast<py::ssize_t>(vector->size()), vector->data(), base);
}

py::tuple pe_tuple(PEColumns&& pes) {
    return py::make_tuple(owning_array(std::move(pes.channels)), owning_array(std::move(pes.times)));
}

py::tuple pe_tuple(LabelledPEs&& pes) {
    return py::make_tuple(owning_array(std::move(pes.channels)), owning_array(std::move(pes.times)),
                          owning_array(std::move(pes.sources)));
}

int seed_of(const py::handle& seed) {
    const auto value = to_long_long(seed, "seed must be an int");
    if (!value || !std::in_range<int>(*value)) {
        throw py::value_error("seed " + py::repr(seed).cast<std::string>() +
                              " lies outside the signed 32-bit range");
    }
    return static_cast<int>(*value);
}

/// A number, as opposed to a sequence or an array of them.
bool is_scalar(const py::handle& value) {
    return !py::isinstance<py::array>(value) && PyNumber_Check(value.ptr()) != 0;
}

std::vector<double> rates_of(const py::handle& rate) {
    if (is_scalar(rate)) {
        const double value = PyFloat_AsDouble(rate.ptr());
        if (value == -1.0 && PyErr_Occurred() != nullptr) {
            PyErr_Clear();
            throw py::type_error("rate must be a real number of Hz or an array of them, not " + type_name(rate));
        }
        return {value};
    }
    const TimeArray rates = contiguous<double>(numeric_vector(rate, "rates", "iuf", "real numbers"), "rates");
    return {rates.data(), rates.data() + rates.size()};
}

PEColumns draw_dark_counts(const py::handle& rate, double start, double stop, const py::handle& channels,
                           const py::handle& seed) {
    const std::vector<double> rates = rates_of(rate);
    const int engine_seed = seed_of(seed);
    if (py::isinstance<py::array>(channels) || PyIndex_Check(channels.ptr()) == 0) {
        const std::vector<int> numbers = channel_numbers(numeric_vector(channels, "channels", "iu", "integers"));
        const py::gil_scoped_release released;
        return dark_counts(rates, start, stop, numbers, engine_seed);
    }
    const auto count = to_long_long(channels, "channels must be an int or an array of channel numbers");
    if (!count) {
        throw py::value_error("channel count must lie between 0 and 2^31 (channels 0 to 2^31 - 1), got " +
                              py::repr(channels).cast<std::string>());
    }
    const py::gil_scoped_release released;
    return dark_counts(rates, start, stop, *count, engine_seed);
}

py::tuple dark_counts_of(const py::object& rate, double start, double stop, const py::object& channels,
                         const py::object& seed) {
    try {
        return pe_tuple(draw_dark_counts(rate, start, stop, channels, seed));
    } catch (const std::length_error& error) {  // the memory check: nothing was allocated
        PyErr_SetString(PyExc_MemoryError, error.what());
        throw py::error_already_set();
    }
}

/// The columns of a PE tuple as arrays of their kinds, each checked on its own.
struct ColumnArrays {
    py::array channels;
    TimeArray times;
    std::optional<py::array> sources;
};

ColumnArrays column_arrays(const py::handle& pes, const std::string& name) {
    if (!py::isinstance<py::tuple>(pes) || (py::len(pes) != 2 && py::len(pes) != 3)) {
        throw py::type_error(name + " must be a tuple (channels, times) or (channels, times, sources), not " +
                             type_name(pes));
    }
    const auto columns = py::reinterpret_borrow<py::tuple>(pes);
    ColumnArrays arrays{numeric_vector(columns[0], name + " channels", "iu", "integers"),
                        finite_times(columns[1], name + " times"), std::nullopt};
    if (columns.size() == 3) {
        arrays.sources = numeric_vector(columns[2], name + " sources", "iu", "integers");
    }
    return arrays;
}

void require_equal_lengths(const ColumnArrays& arrays, const std::string& name) {
    const auto length = [](const py::array& column) { return std::to_string(column.size()); };
    if (!arrays.sources) {
        if (arrays.channels.size() != arrays.times.size()) {
            throw py::value_error(name + " channels and times differ in length (" + length(arrays.channels) +
                                  " and " + length(arrays.times) + ")");
        }
    } else if (arrays.channels.size() != arrays.times.size() || arrays.sources->size() != arrays.times.size()) {
        throw py::value_error(name + " channels, times and sources differ in length (" + length(arrays.channels) +
                              ", " + length(arrays.times) + " and " + length(*arrays.sources) + ")");
    }
}

/// PEs given as (channels, times), labelled `source`, or as (channels, times, sources).
LabelledPEs labelled_pes_of(const py::handle& pes, const std::string& name, PESource source) {
    const ColumnArrays arrays = column_arrays(pes, name);
    require_equal_lengths(arrays, name);
    PEColumns columns{
        checked_integers<int>(arrays.channels, name + " channels", name + " channel", "the signed 32-bit range"),
        {arrays.times.data(), arrays.times.data() + arrays.times.size()}};
    if (!arrays.sources) {
        return labelled(std::move(columns), source);
    }
    return {std::move(columns.channels), std::move(columns.times),
            checked_integers<std::uint8_t>(*arrays.sources, name + " sources", name + " source", "0 to 255")};
}

py::tuple merge_pes_of(const py::object& signal, const py::object& dark) {
    LabelledPEs first = labelled_pes_of(signal, "signal", PESource::signal);
    const LabelledPEs second = labelled_pes_of(dark, "dark", PESource::dark_count);
    return pe_tuple(merge_pes(std::move(first), second));
}

py::tuple add_afterpulses_of(const py::object& pes, double probability,
                             const std::filesystem::path& delay_spectrum, const py::object& seed) {
    LabelledPEs parents = labelled_pes_of(pes, "pes", PESource::signal);
    const int engine_seed = seed_of(seed);
    LabelledPEs result;
    {
        const py::gil_scoped_release released;
        result = add_afterpulses(std::move(parents), probability, delay_spectrum, engine_seed);
    }
    return pe_tuple(std::move(result));
}

constexpr const char* dark_counts_doc = R"(Draws Poisson dark counts on every channel.

Per channel, in the given order, the times run from start by exponential gaps
-log(1 - u) / rate, u a canonical draw, one draw per gap including the gap that passes
stop; a channel of rate 0 draws nothing. The draws come from a Mersenne Twister seeded
with seed, as the models seed theirs, so a seed gives the same PEs on every platform
(up to the last bit of the math library's log).

Parameters
----------
rate : float or numpy.ndarray
    Dark-count rate in Hz, one for every channel, or one per channel in channel order
start : float
    Start of the interval [start, stop), in seconds
stop : float
    End of the interval, in seconds
channels : int or numpy.ndarray
    A count n for channels 0 to n - 1, or the channel numbers (integers within the signed
    32-bit range)
seed : int
    Seed of the random engine, within the signed 32-bit range

Returns
-------
Tuple[numpy.ndarray, numpy.ndarray]
    The channel (int32) and time (float64, seconds) of every dark count, channel after
    channel, each channel's times ascending: the (channels, times) pair that
    pe_list_from_arrays and simulate_pe_list take; merge_pes labels them with source 1

Raises
------
TypeError
    If channels are not integers or rates not real numbers
ValueError
    If a rate is negative or not finite, the rates are neither one nor one per channel,
    start or stop is not finite, stop lies before start, a channel or the seed lies outside
    the signed 32-bit range, or a rate's mean gap is too short for the precision of the times
MemoryError
    If the expected dark counts could not fit in the machine's memory)";

constexpr const char* merge_pes_doc = R"(Concatenates signal PEs and dark counts, labelling each PE by its source.

Source codes: 0 signal, 1 dark count, 2 afterpulse. A pair (channels, times) gets the code of
its position, 0 for signal and 1 for dark; a triple (channels, times, sources) keeps its own.

Parameters
----------
signal : Tuple[numpy.ndarray, numpy.ndarray] or Tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]
    The first PEs: channel and time (seconds) of every PE, and optionally its source code
dark : Tuple[numpy.ndarray, numpy.ndarray] or Tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]
    The PEs that follow, in the same form, such as the pair dark_counts returns

Returns
-------
Tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]
    The channels (int32), times (float64) and sources (uint8) of the signal PEs, then of the
    dark ones; channels and times as pe_list_from_arrays takes them

Raises
------
TypeError
    If an argument is not such a tuple, channels or sources are not integers, or times not
    real numbers
ValueError
    If a column is not one-dimensional, the columns of an argument differ in length, a time is
    not finite, a channel lies outside the signed 32-bit range or a source outside 0 to 255)";

constexpr const char* add_afterpulses_doc = R"(Adds afterpulses to PEs.

Every PE, in input order, draws a canonical u and makes one afterpulse if u < probability, on
its channel at its time plus a delay drawn from the piecewise-linear density of the delay
spectrum (then the next PE draws). Afterpulses make no afterpulses. Source codes: 0 signal,
1 dark count, 2 afterpulse.

Parameters
----------
pes : Tuple[numpy.ndarray, numpy.ndarray] or Tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]
    Channel and time (seconds) of every PE, and optionally its source code (a pair is
    labelled 0, signal)
probability : float
    Probability that a PE makes an afterpulse, between 0 and 1
delay_spectrum : Path
    Two-column file of afterpulse delays in seconds and their density, in the format of the
    models' spectra
seed : int
    Seed of the random engine, within the signed 32-bit range

Returns
-------
Tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]
    The channels (int32), times (float64) and sources (uint8) of the input PEs, then of
    their afterpulses in the order of their parents, with source 2

Raises
------
TypeError
    If pes is not such a tuple, channels or sources are not integers, or times not real
    numbers
ValueError
    If probability lies outside [0, 1], a column is not one-dimensional, the columns differ
    in length, a time is not finite, or a channel, source or the seed is out of range
RuntimeError
    If the delay spectrum cannot be read or cannot form a distribution)";

}  // namespace

void register_background(py::module_& m) {
    m.def("dark_counts", &dark_counts_of, py::arg("rate"), py::arg("start"), py::arg("stop"), py::arg("channels"),
          py::arg("seed"), dark_counts_doc);
    m.def("merge_pes", &merge_pes_of, py::arg("signal"), py::arg("dark"), merge_pes_doc);
    m.def("add_afterpulses", &add_afterpulses_of, py::arg("pes"), py::arg("probability"),
          py::arg("delay_spectrum"), py::arg("seed"), add_afterpulses_doc);
}

}  // namespace pelorin::bindings
