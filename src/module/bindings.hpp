#pragma once

// Shared declarations of the binding files; every binding file includes this first so
// that the vector types bind to the host containers (containers.hpp) everywhere.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "module/containers.hpp"

namespace pelorin::bindings {

/// NumPy argument: float64 taken as is, anything else converted by NumPy.
using DoubleArray = py::array_t<double, py::array::forcecast>;

/// Copies the array's elements in row-major order, whatever its strides.
std::vector<double> to_vector(const DoubleArray& array);

/// A docstring whose "{times}" placeholders take the type text of the PE-time
/// argument: "List[float]" for the container overload, "numpy.ndarray" for the array one.
inline std::string with_times_type(std::string doc, const char* type) {
    static const std::string placeholder = "{times}";
    for (auto at = doc.find(placeholder); at != std::string::npos; at = doc.find(placeholder, at)) {
        doc.replace(at, placeholder.size(), type);
    }
    return doc;
}

/// The same text serves both models.
inline constexpr const char* calibrate_delay_doc = R"(Calibrates the delay between PE times and trigger times.

Parameters
----------
num_pes : int
    Number of PEs to simulate
num_sim : int
    Number of simulations to run

Returns
-------
float
    The average delay in seconds

Raises
------
RuntimeError
    If too many simulations do not produce a valid trigger)";

/// The array overload of `simulate`: the array copied into a vector.
template <typename Model>
auto simulate_array(Model& model, const DoubleArray& pe_times, int channel) {
    return model.simulate(to_vector(pe_times), channel);
}

/// Runs `simulate` once per PE-list entry, in list order, and concatenates the records.
template <typename Model>
auto simulate_pe_list(Model& model, const PEList& pe_list) {
    decltype(model.simulate(std::vector<double>{}, 0)) records;
    for (const auto& [channel, times] : pe_list) {
        auto entry = model.simulate(times, channel);
        if (records.empty()) {
            records = std::move(entry);  // a single channel's records need no copy
        } else {
            records.insert(records.end(), std::make_move_iterator(entry.begin()),
                           std::make_move_iterator(entry.end()));
        }
    }
    return records;
}

/// Registers `simulate`, container overload first, then the array overload.
template <typename Model>
void def_simulate(py::class_<Model>& cls, const char* doc) {
    cls.def("simulate", &Model::simulate, py::arg("pe_times"), py::arg("channel") = 0,
            with_times_type(doc, "List[float]").c_str());
    cls.def("simulate", &simulate_array<Model>, py::arg("pe_times"), py::arg("channel") = 0,
            with_times_type(doc, "numpy.ndarray").c_str());
}

/// Registers `calibrate_delay`, then `simulate_pe_list`, the last two methods of either model.
template <typename Model>
void def_calibration_and_pe_list(py::class_<Model>& cls, const char* pe_list_doc) {
    cls.def("calibrate_delay", &Model::calibrate_delay, py::arg("num_pes"), py::arg("num_sim"),
            calibrate_delay_doc);
    cls.def("simulate_pe_list", &simulate_pe_list<Model>, py::arg("pe_list"), pe_list_doc);
}

/// A PE list from a mapping {channel: times} or a pair (channels, times) of arrays, as
/// pe_list_from_arrays takes them; TypeError for anything else.
PEList pe_list_of(const py::handle& pes);

/// A PE list with a source label per PE, entry by entry: from a tuple (channels, times,
/// sources) with uint8-convertible labels, or any form of pe_list_of with label 0.
struct LabelledPEList {
    PEList pe_list;
    std::vector<std::vector<std::uint8_t>> sources;
};
LabelledPEList labelled_pe_list_of(const py::handle& pes);

/// Records as records_to_array gives them.
py::array records_to_array(const py::object& records, const py::object& waveform_samples,
                           const py::object& tot_step);

void register_containers(py::module_& m);
void register_camera(py::module_& m);
void register_multipmt(py::module_& m);
void register_generate_pe_list(py::module_& m);
void register_arrays(py::module_& m);
void register_readout_tools(py::module_& m);
void register_background(py::module_& m);

}  // namespace pelorin::bindings
