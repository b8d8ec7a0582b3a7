#include "module/bindings.hpp"

#include "module/pe_arrays.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace pelorin::bindings {
namespace {

using CameraRecords = std::vector<corvane::TarvexTrigger>;
using MultiPMTRecords = std::vector<corvane::MultiPMTTrigger>;

// The array fields mirror the record members byte for byte.
static_assert(sizeof(int) == sizeof(std::int32_t));

/// A zero-filled structured array of `count` elements, laid out as a C struct would be.
py::array zeroed_array(const py::list& fields, std::size_t count) {
    const py::module_ numpy = py::module_::import("numpy");
    const py::object dtype = numpy.attr("dtype")(fields, py::arg("align") = true);
    return numpy.attr("zeros")(count, dtype);
}

/// Writes one element after another into a structured array, field by byte offset.
class ElementWriter {
public:
    explicit ElementWriter(py::array& array)
        : fields_(array.dtype().attr("fields")),
          item_(static_cast<char*>(array.mutable_data())),
          itemsize_(static_cast<std::size_t>(array.itemsize())) {}

    std::size_t offset(const char* field) const { return fields_[field].cast<py::tuple>()[1].cast<std::size_t>(); }

    template <typename T>
    void put(std::size_t offset, const T& value) {
        std::memcpy(item_ + offset, &value, sizeof value);
    }

    template <typename T>
    void put_all(std::size_t offset, const std::vector<T>& values) {
        if (!values.empty()) {
            std::memcpy(item_ + offset, values.data(), values.size() * sizeof(T));
        }
    }

    void next() { item_ += itemsize_; }

private:
    py::object fields_;  // name -> (dtype, byte offset)
    char* item_;
    std::size_t itemsize_;
};

std::size_t longest_window(const CameraRecords& records) {
    std::size_t longest = 0;
    for (const auto& record : records) {
        longest = std::max(longest, record.waveform.size());
    }
    return longest;
}

/// Width of the waveform field: the caller's `waveform_samples`, or the longest window.
std::size_t waveform_width(const CameraRecords& records, const std::optional<std::size_t>& requested) {
    const std::size_t longest = longest_window(records);
    if (requested && *requested < longest) {
        throw py::value_error("waveform_samples is " + std::to_string(*requested) + " but a window holds " +
                              std::to_string(longest) + " samples");
    }
    return requested.value_or(longest);
}

/// A scalar record member, copied into the array field of its name and native type.
template <typename Record, typename T>
struct Member {
    const char* name;
    T Record::*value;
};
// Spelled out for compilers without class template argument deduction for aggregates
// (clang before 17, and the Apple clang of older Xcode releases).
template <typename Record, typename T>
Member(const char*, T Record::*) -> Member<Record, T>;

/// One element per record: the members' fields in the order given, then, for camera
/// records, the samples padded to `width` and their count, then `extra_fields` (zeroed).
template <typename Record, typename... T>
py::array records_array(const std::vector<Record>& records, std::size_t width, const py::list& extra_fields,
                        const Member<Record, T>&... members) {
    constexpr bool has_waveform = std::is_same_v<Record, corvane::TarvexTrigger>;
    py::list fields;
    (fields.append(py::make_tuple(members.name, py::dtype::of<T>())), ...);
    if constexpr (has_waveform) {
        fields.append(py::make_tuple("waveform", py::dtype::of<std::uint16_t>(), py::make_tuple(width)));
        fields.append(py::make_tuple("waveform_length", py::dtype::of<std::uint32_t>()));
    }
    for (const auto field : extra_fields) {
        fields.append(field);
    }
    py::array array = zeroed_array(fields, records.size());

    ElementWriter out(array);
    const std::array offsets{out.offset(members.name)...};
    const std::size_t waveform = has_waveform ? out.offset("waveform") : 0;
    const std::size_t length = has_waveform ? out.offset("waveform_length") : 0;
    for (const auto& record : records) {
        std::size_t field = 0;
        (out.put(offsets[field++], record.*(members.value)), ...);
        if constexpr (has_waveform) {
            out.put_all(waveform, record.waveform);
            out.put(length, static_cast<std::uint32_t>(record.waveform.size()));
        }
        out.next();
    }
    return array;
}

py::array camera_array(const CameraRecords& records, const std::optional<std::size_t>& samples) {
    using corvane::TarvexTrigger;
    return records_array(records, waveform_width(records, samples), py::list(),
                         Member{"channel", &TarvexTrigger::channel},
                         Member{"trigger_time_s", &TarvexTrigger::trigger_time_s},
                         Member{"trigger_time_ticks", &TarvexTrigger::trigger_time_ticks},
                         Member{"baseline", &TarvexTrigger::baseline}, Member{"intsum", &TarvexTrigger::intsum});
}

/// A time that the TDC reported as a whole count of `step`, as that count. Hit starts are
/// count x step, rounded once; a ToT is the difference of two such times, rounded again:
/// the quotient lies within a few units in the last place of the count.
std::int64_t tdc_count(double time, double step, const char* field, std::size_t record) {
    const double quotient = time / step;
    const double count = std::round(quotient);
    if (!(std::fabs(quotient - count) <= 1e-6 * std::max(1.0, std::fabs(count))) ||
        !(std::fabs(count) < 9007199254740992.0)) {  // 2^53
        std::ostringstream message;
        message << field << " of record " << record << " (" << time << " s) is not a whole number of tot_step ("
                << step << " s)";
        throw py::value_error(message.str());
    }
    return static_cast<std::int64_t>(count);
}

/// The hit start and the ToT as counts of the ToT step, appended as int64 fields.
void add_tdc_counts(py::array& array, const MultiPMTRecords& records, double step) {
    ElementWriter out(array);
    const std::size_t time = out.offset("time_count");
    const std::size_t tot = out.offset("tot_count");
    for (std::size_t n = 0; n < records.size(); ++n) {
        out.put(time, tdc_count(records[n].time, step, "time", n));
        out.put(tot, tdc_count(records[n].time_over_threshold, step, "time_over_threshold", n));
        out.next();
    }
}

py::array multipmt_array(const MultiPMTRecords& records, const std::optional<double>& tot_step) {
    using corvane::MultiPMTTrigger;
    py::list extra;
    if (tot_step) {
        extra.append(py::make_tuple("time_count", py::dtype::of<std::int64_t>()));
        extra.append(py::make_tuple("tot_count", py::dtype::of<std::int64_t>()));
    }
    py::array array = records_array(records, 0, extra, Member{"time", &MultiPMTTrigger::time},
                                    Member{"channel", &MultiPMTTrigger::channel},
                                    Member{"time_over_threshold", &MultiPMTTrigger::time_over_threshold},
                                    Member{"adc_sample", &MultiPMTTrigger::adc_sample});
    if (tot_step) {
        add_tdc_counts(array, records, *tot_step);
    }
    return array;
}

std::optional<std::size_t> to_window_width(const py::handle& waveform_samples) {
    if (waveform_samples.is_none()) {
        return std::nullopt;
    }
    const auto value = to_long_long(waveform_samples, "waveform_samples must be an int");
    if (!value || *value < 0 || *value > std::numeric_limits<std::int32_t>::max()) {
        throw py::value_error("waveform_samples must lie between 0 and 2**31 - 1");
    }
    return static_cast<std::size_t>(*value);
}

std::optional<double> to_tot_step(const py::handle& tot_step) {
    if (tot_step.is_none()) {
        return std::nullopt;
    }
    if (!PyFloat_Check(tot_step.ptr()) && !PyIndex_Check(tot_step.ptr())) {
        throw py::type_error("tot_step must be a number of seconds, not " + type_name(tot_step));
    }
    const double step = tot_step.cast<double>();
    if (!(std::isfinite(step) && step > 0.0)) {
        throw py::value_error("tot_step must be a finite, positive number of seconds, got " +
                              py::repr(tot_step).cast<std::string>());
    }
    return step;
}

}  // namespace

py::array records_to_array(const py::object& records, const py::object& waveform_samples,
                           const py::object& tot_step) {
    if (py::isinstance<HostVector<corvane::TarvexTrigger>>(records)) {
        if (!tot_step.is_none()) {
            throw py::value_error("tot_step applies to MultiPMT records only");
        }
        return camera_array(records.cast<const CameraRecords&>(), to_window_width(waveform_samples));
    }
    if (py::isinstance<HostVector<corvane::MultiPMTTrigger>>(records)) {
        if (!waveform_samples.is_none()) {
            throw py::value_error("waveform_samples applies to camera records only");
        }
        return multipmt_array(records.cast<const MultiPMTRecords&>(), to_tot_step(tot_step));
    }
    throw py::type_error("records must be a TarvexTriggerVector or a MultiPMTTriggerVector, not " +
                         type_name(records));
}

namespace {

/// Each window's own samples as an array of its own, in an object array of one per record.
py::array waveform_column(const CameraRecords& records) {
    py::array_t<py::object> column(static_cast<py::ssize_t>(records.size()));
    auto* items = static_cast<py::object*>(column.mutable_data());
    for (std::size_t n = 0; n < records.size(); ++n) {
        const auto& samples = records[n].waveform;
        py::array_t<std::uint16_t> window(static_cast<py::ssize_t>(samples.size()));
        if (!samples.empty()) {
            std::memcpy(window.mutable_data(), samples.data(), samples.size() * sizeof(std::uint16_t));
        }
        items[n] = std::move(window);
    }
    return column;
}

py::dict records_to_columns(const py::object& records, const py::object& tot_step) {
    const py::array array = records_to_array(records, py::none(), tot_step);
    const py::object ascontiguousarray = py::module_::import("numpy").attr("ascontiguousarray");
    py::dict columns;
    for (const auto name : array.dtype().attr("names")) {
        if (py::str(name).cast<std::string>() == "waveform") {
            columns[name] = waveform_column(records.cast<const CameraRecords&>());
        } else {
            columns[name] = ascontiguousarray(array[name]);
        }
    }
    return columns;
}

// ---- PE lists from arrays ----

std::string out_of_range(const std::string& what, const std::string& value) {
    return what + " " + value + " lies outside the signed 32-bit range";
}

/// The PE list of (channel, time) pairs; `entry_of_pe`, where given, receives the entry
/// that each PE went to.
PEList pe_list_from_pairs(const py::handle& channel_values, const py::handle& time_values,
                          std::vector<std::size_t>* entry_of_pe = nullptr) {
    const py::array channel_array = numeric_vector(channel_values, "channels", "iu", "integers");
    const TimeArray times = finite_times(time_values, "times");
    if (channel_array.size() != times.size()) {
        throw py::value_error("channels and times differ in length (" + std::to_string(channel_array.size()) +
                              " and " + std::to_string(times.size()) + ")");
    }
    const std::vector<int> channels = channel_numbers(channel_array);
    PEList pe_list;
    std::unordered_map<int, std::size_t> entry_of_channel;
    std::size_t entry = 0;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        // PEs of one channel usually come in runs; look up only where the channel changes.
        if (i == 0 || channels[i] != channels[i - 1]) {
            const auto [found, added] = entry_of_channel.try_emplace(channels[i], pe_list.size());
            if (added) {
                pe_list.emplace_back(channels[i], std::vector<double>{});
            }
            entry = found->second;
        }
        pe_list[entry].second.push_back(times.data()[i]);
        if (entry_of_pe != nullptr) {
            entry_of_pe->push_back(entry);
        }
    }
    return pe_list;
}

int mapping_channel(const py::handle& key) {
    const auto value = to_long_long(key, "channel keys must be integers");
    if (!value) {
        throw py::value_error("a channel key lies outside the signed 32-bit range");
    }
    if (!std::in_range<int>(*value)) {
        throw py::value_error(out_of_range("channel key", std::to_string(*value)));
    }
    return static_cast<int>(*value);
}

PEList pe_list_from_mapping(const py::handle& mapping) {
    PEList pe_list;
    for (const py::handle key : mapping) {
        const int channel = mapping_channel(key);
        const TimeArray times = finite_times(mapping[key], "times of channel " + std::to_string(channel));
        pe_list.emplace_back(channel, std::vector<double>(times.data(), times.data() + times.size()));
    }
    return pe_list;
}

PEList pe_list_from_arrays(const py::object& channels, const py::object& times) {
    const bool is_mapping = py::isinstance(channels, py::module_::import("collections.abc").attr("Mapping"));
    if (times.is_none()) {
        if (!is_mapping) {
            throw py::type_error(
                "give a mapping {channel: times}, or the channel and the time "
                "of every PE as two arrays; got one " +
                type_name(channels));
        }
        return pe_list_from_mapping(channels);
    }
    if (is_mapping) {
        throw py::type_error("with times given, channels must be the channel of every PE, not a mapping");
    }
    return pe_list_from_pairs(channels, times);
}

}  // namespace

LabelledPEList labelled_pe_list_of(const py::handle& pes) {
    const bool triple = py::isinstance<py::tuple>(pes) && py::len(pes) == 3;
    if (!triple) {
        LabelledPEList labelled{
            py::isinstance<HostVector<PEEntry>>(pes) ? pes.cast<const PEList&>() : pe_list_of(pes), {}};
        for (const auto& entry : labelled.pe_list) {
            labelled.sources.emplace_back(entry.second.size(), std::uint8_t{0});
        }
        return labelled;
    }
    const auto parts = py::reinterpret_borrow<py::tuple>(pes);
    const std::vector<std::uint8_t> labels = checked_integers<std::uint8_t>(
        numeric_vector(parts[2], "sources", "iu", "integers"), "sources", "source label", "0 to 255");
    std::vector<std::size_t> entry_of_pe;
    LabelledPEList labelled{pe_list_from_pairs(parts[0], parts[1], &entry_of_pe), {}};
    if (labels.size() != entry_of_pe.size()) {
        throw py::value_error("sources and times differ in length (" + std::to_string(labels.size()) + " and " +
                              std::to_string(entry_of_pe.size()) + ")");
    }
    labelled.sources.resize(labelled.pe_list.size());
    for (std::size_t i = 0; i < entry_of_pe.size(); ++i) {
        labelled.sources[entry_of_pe[i]].push_back(labels[i]);
    }
    return labelled;
}

PEList pe_list_of(const py::handle& pes) {
    if (py::isinstance(pes, py::module_::import("collections.abc").attr("Mapping"))) {
        return pe_list_from_mapping(pes);
    }
    if (py::isinstance<py::tuple>(pes) && py::len(pes) == 2) {
        const auto pair = py::reinterpret_borrow<py::tuple>(pes);
        return pe_list_from_pairs(pair[0], pair[1]);
    }
    throw py::type_error(
        "pe_list must be a PEListVector, a mapping {channel: times} or a tuple (channels, times), not " +
        type_name(pes));
}

namespace {

constexpr const char* records_to_array_doc =
    R"(Converts records into a NumPy structured array, one element per record.

Camera records give the fields channel (int32), trigger_time_s and trigger_time_ticks
(uint32), baseline and intsum (float32), waveform (uint16, one row of samples per record)
and waveform_length (uint32, the number of samples in the window); a window shorter than
the waveform field (external-trigger windows may differ by one sample) is padded with 0
after its last sample. MultiPMT records give time (float64), channel (int32),
time_over_threshold (float64) and adc_sample (uint16); given the model's tot_step, also
time_count and tot_count (int64): the hit start and the time over threshold as whole
counts of the TDC, exact where the float seconds carry rounding.

Parameters
----------
records : TarvexTriggerVector or MultiPMTTriggerVector
    Records as returned by a model
waveform_samples : int, optional
    Camera records only: width of the waveform field (default is the longest window)
tot_step : float, optional
    MultiPMT records only: the tot_step of the model that made them, in seconds, for
    the count fields

Returns
-------
numpy.ndarray
    A structured array with one field per record property, in record order

Raises
------
TypeError
    If records is not one of the two record containers
ValueError
    If waveform_samples is negative, shorter than a window or given with MultiPMT records,
    or tot_step is not positive, given with camera records or not the records' step

Notes
-----
baseline is the configured ADC offset and intsum the sum of (sample - baseline) over the
whole window. In triggered readout the ADC runs only where the analog signal has content:
samples outside it read 0 and add -baseline each to intsum, and trailing ones are filled
with the offset. Summing (sample - baseline) over the non-zero samples gives the
pedestal-subtracted charge. External-trigger readout simulates every sample of its windows.)";

constexpr const char* pe_list_from_arrays_doc =
    R"(Builds a PE list from NumPy arrays in one conversion per channel.

Give either a mapping {channel: PE times}, which yields one entry per key in the mapping's
order, or the channel and the time of every PE as two arrays of equal length, which yields
one entry per channel in order of first appearance, each holding its PEs in array order.

Parameters
----------
channels : Mapping[int, numpy.ndarray] or numpy.ndarray
    A mapping from channel number to PE times in seconds, or the channel number of every PE
times : numpy.ndarray, optional
    The time of every PE in seconds, given with an array of channels

Returns
-------
PEListVector
    The PE list, ready for simulate_pe_list

Raises
------
TypeError
    If channels are not integers, times not real numbers, or the arguments fit neither form
ValueError
    If an array is not one-dimensional, the lengths differ, a time is not finite or a channel lies outside the signed 32-bit range)";

constexpr const char* records_to_columns_doc =
    R"(Converts records into one-dimensional NumPy columns, for pandas and Arrow.

The columns are the fields of records_to_array, each a contiguous array, except the camera's
waveform: an object array holding each window's own samples (uint16, without padding).
pandas.DataFrame(columns) and pyarrow.table(columns) take the result as it is.

Parameters
----------
records : TarvexTriggerVector or MultiPMTTriggerVector
    Records as returned by a model
tot_step : float, optional
    MultiPMT records only: the model's tot_step in seconds, for the columns time_count and
    tot_count

Returns
-------
dict
    Column name to array, in the field order of records_to_array

Raises
------
TypeError
    If records is not one of the two record containers
ValueError
    If tot_step is not positive, given with camera records or not the records' step)";

}  // namespace

void register_arrays(py::module_& m) {
    m.def("records_to_array", &records_to_array, py::arg("records"), py::arg("waveform_samples") = py::none(),
          py::arg("tot_step") = py::none(), records_to_array_doc);
    m.def("pe_list_from_arrays", &pe_list_from_arrays, py::arg("channels"), py::arg("times") = py::none(),
          pe_list_from_arrays_doc);
    m.def("records_to_columns", &records_to_columns, py::arg("records"), py::arg("tot_step") = py::none(),
          records_to_columns_doc);
}

}  // namespace pelorin::bindings
