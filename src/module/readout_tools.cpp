#include "module/bindings.hpp"
#include "module/pe_arrays.hpp"

#include <cstddef>
#include <limits>
#include <string>
#include <type_traits>

#include "pelorin/analog_signal.hpp"
#include "pelorin/multipmt.hpp"
#include "pelorin/readout.hpp"
#include "pelorin/tarvex.hpp"

namespace pelorin::bindings {
namespace {

/// `use(model)` with the model as the class it is; TypeError for anything else.
template <typename Use>
auto with_model(const py::object& model, Use&& use) {
    if (py::isinstance<Tarvex>(model)) {
        return use(model.cast<Tarvex&>());
    }
    if (py::isinstance<MultiPMT>(model)) {
        return use(model.cast<MultiPMT&>());
    }
    throw py::type_error("model must be a pelorin.Tarvex or a pelorin.MultiPMT, not " + type_name(model));
}

template <typename Model>
py::object simulate_pe_list_of(Model& model, const py::object& pes) {
    if (py::isinstance<HostVector<PEEntry>>(pes)) {
        return py::cast(simulate_pe_list(model, pes.cast<const PEList&>()));
    }
    return py::cast(simulate_pe_list(model, pe_list_of(pes)));
}

py::object simulate_any_pe_list(const py::object& model, const py::object& pes) {
    return with_model(model, [&](auto& m) { return simulate_pe_list_of(m, pes); });
}

/// Sample times and values of a sparse waveform as two NumPy arrays under the given keys.
void put_signal(py::dict& result, const char* time_key, const char* value_key,
                const SparseWaveform<double>& signal) {
    const auto n = static_cast<py::ssize_t>(signal.samples.size());
    py::array_t<double> times(n);
    py::array_t<double> values(n);
    double* time = times.mutable_data();
    double* value = values.mutable_data();
    for (const auto& [index, sample] : signal.samples) {
        *time++ = static_cast<double>(index) * signal.step;
        *value++ = sample;
    }
    result[time_key] = times;
    result[value_key] = values;
}

py::dict analog_signal_of(const py::object& model, const DoubleArray& pe_times) {
    return with_model(model, [&](const auto& m) {
        const AnalogSignal signal = analog_signal(m, to_vector(pe_times));
        py::dict result;
        put_signal(result, "time", "adc", signal.adc);
        result["adc_baseline"] = signal.adc_baseline;
        if constexpr (std::is_same_v<std::decay_t<decltype(m)>, MultiPMT>) {
            put_signal(result, "tot_time", "tot", signal.tot);
        }
        return result;
    });
}

/// One row of the truth array, laid out as truth_dtype() describes it: 32 bytes a PE.
struct TruthRow {
    double time;
    double delay;
    float amplitude;
    std::int32_t channel;
    std::int32_t record;
    std::uint8_t source;
};
static_assert(sizeof(TruthRow) == 32 && std::is_standard_layout_v<TruthRow>);

py::dtype truth_dtype() {
    py::dict layout;
    layout["names"] = py::make_tuple("channel", "time", "delay", "amplitude", "record", "source");
    layout["formats"] = py::make_tuple("i4", "f8", "f8", "f4", "i4", "u1");
    layout["offsets"] =
        py::make_tuple(offsetof(TruthRow, channel), offsetof(TruthRow, time), offsetof(TruthRow, delay),
                       offsetof(TruthRow, amplitude), offsetof(TruthRow, record), offsetof(TruthRow, source));
    layout["itemsize"] = sizeof(TruthRow);
    return py::dtype::from_args(layout);
}

std::optional<TimeSpan> to_span(const py::handle& span) {
    if (span.is_none()) {
        return std::nullopt;
    }
    const std::string requirement = "span must be a pair (start, stop) of times in seconds";
    if (!(py::isinstance<py::tuple>(span) || py::isinstance<py::list>(span)) || py::len(span) != 2) {
        throw py::type_error(requirement + ", not " + type_name(span));
    }
    const auto parts = py::reinterpret_borrow<py::sequence>(span);
    try {
        return TimeSpan{parts[0].cast<double>(), parts[1].cast<double>()};
    } catch (const py::cast_error&) {
        throw py::type_error(requirement + ", not (" + type_name(parts[0]) + ", " + type_name(parts[1]) + ")");
    }
}

/// The records of every entry, in entry order, and with `truth` one row per PE, entry by
/// entry, whose record index counts in the returned records.
template <typename Model>
py::object read_out_entries(Model& model, const LabelledPEList& pes, ReadoutOptions options, bool with_truth) {
    decltype(model.simulate(std::vector<double>{}, 0)) records;
    std::size_t pe_count = 0;
    for (const auto& entry : pes.pe_list) {
        pe_count += entry.second.size();
    }
    py::array_t<std::uint8_t> truth_bytes(static_cast<py::ssize_t>(with_truth ? pe_count * sizeof(TruthRow) : 0));
    auto* row = reinterpret_cast<TruthRow*>(truth_bytes.mutable_data());
    PETruth truth;
    options.truth = with_truth ? &truth : nullptr;
    for (std::size_t e = 0; e < pes.pe_list.size(); ++e) {
        const auto& [channel, times] = pes.pe_list[e];
        auto entry = read_out(model, times, channel, options);
        const std::size_t first_record = records.size();
        if (first_record + entry.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            throw py::value_error("more than 2^31 - 1 records in one call; read out fewer PEs at a time");
        }
        for (std::size_t n = 0; with_truth && n < times.size(); ++n, ++row) {
            const std::int64_t record = truth.record[n];
            *row = {times[n],
                    truth.draws[n].delay,
                    static_cast<float>(truth.draws[n].amplitude),
                    channel,
                    record < 0 ? -1 : static_cast<std::int32_t>(first_record + static_cast<std::size_t>(record)),
                    pes.sources[e][n]};
        }
        records.insert(records.end(), std::make_move_iterator(entry.begin()),
                       std::make_move_iterator(entry.end()));
    }
    py::array array = records_to_array(py::cast(std::move(records)), py::none(), py::none());
    if (!with_truth) {
        return array;
    }
    return py::make_tuple(array, truth_bytes.attr("view")(truth_dtype()));
}

py::object read_out_any(const py::object& model, const py::object& pes, bool truth, bool continuous,
                        const py::object& span) {
    ReadoutOptions options;
    options.continuous = continuous;
    options.span = to_span(span);
    if (options.span && !continuous) {
        throw py::value_error("span applies to the continuous readout only: give continuous=True");
    }
    return with_model(model,
                      [&](auto& m) { return read_out_entries(m, labelled_pe_list_of(pes), options, truth); });
}

constexpr const char* read_out_doc =
    R"(Reads out PEs into a record array, optionally with the truth of every PE and with a continuously running ADC.

With neither option the records are those of model.simulate_pe_list, and the model's random
sequence advances alike.

With truth=True the call also returns one row per PE, entry by entry and PE by PE: channel
(int32), time (float64, the PE time), delay (float64, the drawn delay of its pulse),
amplitude (float32, its drawn amplitude), record (int32, the index of the record it ended
in, -1 for none) and source (uint8, from a (channels, times, sources) tuple, else 0). A
camera PE ends in a record when its delayed time (time + delay) lies in the record's
window, [start, start + waveform_samples x adc_step); a MultiPMT PE ends in the first hit
whose interval [time, time + time_over_threshold] its shaped ToT pulse (from its delayed
time to the end of the ToT pulse shape) overlaps. The records are the same with and
without truth.

With continuous=True the ADC runs over a span for every entry: each sample carries the
offset, noise and signal, the trigger sees all of them and noise alone can trigger. The
camera forces its samples as simulate_external_trigger does for one window over the span,
so a window's samples equal those of that readout; the MultiPMT's ToT discriminator and ADC
see a zero-valued analog sample at every grid point of the span. Without span, each entry's
span runs from its earliest PE, less the largest delay and the pulse and window margins (not
before 0), to its latest, plus those; an entry without PEs then reads nothing.

Parameters
----------
model : Tarvex or MultiPMT
    The model that reads the PEs out
pe_list : PEListVector, Mapping[int, numpy.ndarray] or tuple
    The PEs: per-channel entries, a mapping from channel to PE times in seconds, a tuple
    (channels, times) of the channel and time of every PE, or (channels, times, sources)
    with a source label (0 to 255) per PE
truth : bool, optional
    Also return the truth of every PE (default False)
continuous : bool, optional
    Run the ADC (and the ToT discriminator) over the span (default False)
span : Tuple[float, float], optional
    (start, stop) of the continuous readout in seconds, start at 0 or later

Returns
-------
numpy.ndarray or Tuple[numpy.ndarray, numpy.ndarray]
    The record array (as records_to_array gives it), and with truth=True the truth array

Raises
------
TypeError
    If model is neither model class or pe_list none of the accepted forms
ValueError
    If a time or the span lies outside the model's time range, or span is given without
    continuous=True)";

constexpr const char* simulate_pe_list_doc = R"(Reads out a PE list given in any of its forms.

The same as model.simulate_pe_list, which takes only a PEListVector: the PE list may also be
a mapping {channel: PE times} or a tuple (channels, times) of the channel and the time of
every PE, as pe_list_from_arrays takes them.

Parameters
----------
model : Tarvex or MultiPMT
    The model that reads the PEs out; its random sequence advances as by simulate_pe_list
pe_list : PEListVector, Mapping[int, numpy.ndarray] or Tuple[numpy.ndarray, numpy.ndarray]
    The PEs: per-channel entries, a mapping from channel to PE times in seconds, or the
    channel and the time of every PE

Returns
-------
TarvexTriggerVector or MultiPMTTriggerVector
    The records of every entry, in entry order

Raises
------
TypeError
    If model is neither model class or pe_list is none of the three forms)";

constexpr const char* analog_signal_doc =
    R"(The shaped analog signals of the model's next readout of these PE times.

The PMT delays and amplitudes are drawn from a copy of the model's random engine, so they
are the ones its next simulate(pe_times) call will draw, and the model is left untouched.
The signals are given on the analog grid where the shaped pulses have content; elsewhere
the ADC input is adc_baseline and the ToT input 0.

Parameters
----------
model : Tarvex or MultiPMT
    The model whose chain shapes the PEs
pe_times : numpy.ndarray
    PE times of one channel in seconds

Returns
-------
dict
    time and adc: sample times in seconds and the ADC's input in LSB before noise (offset +
    gain x shaped pulse, limited to [0, preamp clip]); adc_baseline: that input without
    signal (float); for a MultiPMT also tot_time and tot: the ToT discriminator's input
    before noise, in the unit of tot_threshold

Raises
------
TypeError
    If model is neither model class
ValueError
    If a PE time is not finite or outside the model's time range)";

}  // namespace

void register_readout_tools(py::module_& m) {
    m.def("simulate_pe_list", &simulate_any_pe_list, py::arg("model"), py::arg("pe_list"), simulate_pe_list_doc);
    m.def("analog_signal", &analog_signal_of, py::arg("model"), py::arg("pe_times"), analog_signal_doc);
    m.def("read_out", &read_out_any, py::arg("model"), py::arg("pe_list"), py::kw_only(), py::arg("truth") = false,
          py::arg("continuous") = false, py::arg("span") = py::none(), read_out_doc);
}

}  // namespace pelorin::bindings
