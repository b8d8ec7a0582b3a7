#pragma once

// Shared declarations of the binding files; every binding file includes this first so
// that the vector types are opaque (bound containers, never converted to lists) everywhere.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl_bind.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "corvane/multipmt_trigger.hpp"
#include "corvane/tarvex_trigger.hpp"

namespace py = pybind11;

using PEList = std::vector<std::pair<int, std::vector<double>>>;

PYBIND11_MAKE_OPAQUE(std::vector<double>)
PYBIND11_MAKE_OPAQUE(std::vector<int>)
PYBIND11_MAKE_OPAQUE(std::vector<std::uint16_t>)
PYBIND11_MAKE_OPAQUE(std::vector<corvane::TarvexTrigger>)
PYBIND11_MAKE_OPAQUE(std::vector<corvane::MultiPMTTrigger>)
PYBIND11_MAKE_OPAQUE(PEList)

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

/// Runs `simulate` once per PE-list entry, in list order, and concatenates the records.
template <typename Model>
auto simulate_each_entry(Model& model, const PEList& pe_list) {
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

void register_containers(py::module_& m);
void register_camera(py::module_& m);
void register_multipmt(py::module_& m);
void register_generate_pe_list(py::module_& m);
void register_arrays(py::module_& m);

}  // namespace pelorin::bindings
