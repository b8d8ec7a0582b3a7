#include "module/bindings.hpp"

#include <cstring>
#include <string>

#include "pelorin/analog_signal.hpp"
#include "pelorin/multipmt.hpp"
#include "pelorin/tarvex.hpp"

namespace pelorin::bindings {
namespace {

std::string type_name(const py::handle& object) { return py::str(py::type::handle_of(object).attr("__name__")); }

[[noreturn]] void refuse_model(const py::handle& model) {
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
    if (py::isinstance<Tarvex>(model)) {
        return simulate_pe_list_of(model.cast<Tarvex&>(), pes);
    }
    if (py::isinstance<MultiPMT>(model)) {
        return simulate_pe_list_of(model.cast<MultiPMT&>(), pes);
    }
    refuse_model(model);
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
    const std::vector<double> times = to_vector(pe_times);
    const bool is_camera = py::isinstance<Tarvex>(model);
    if (!is_camera && !py::isinstance<MultiPMT>(model)) {
        refuse_model(model);
    }
    const AnalogSignal signal = is_camera ? analog_signal(model.cast<const Tarvex&>(), times)
                                          : analog_signal(model.cast<const MultiPMT&>(), times);
    py::dict result;
    put_signal(result, "time", "adc", signal.adc);
    result["adc_baseline"] = signal.adc_baseline;
    if (!is_camera) {
        put_signal(result, "tot_time", "tot", signal.tot);
    }
    return result;
}

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
}

}  // namespace pelorin::bindings
