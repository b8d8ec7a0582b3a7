#include "module/bindings.hpp"

#include <cstring>

namespace pelorin::bindings {
namespace {

template <typename Vector>
void bind_scalar_vector(py::module_& m, const char* name) {
    py::bind_vector<Vector>(m, name, py::module_local());
    // Host lists convert implicitly; other iterables must be wrapped explicitly.
    py::implicitly_convertible<py::list, Vector>();
}

PEList generate_pe_list_helper(int num_channels, int pes_per_channel, double time_interval) {
    PEList pe_list;
    for (int channel = 0; channel < num_channels; ++channel) {
        std::vector<double> times;
        for (int i = 0; i < pes_per_channel; ++i) {
            // A product, not a running sum, so each time is exact to one rounding.
            times.push_back(static_cast<double>(i) * time_interval);
        }
        pe_list.emplace_back(channel, std::move(times));
    }
    return pe_list;
}

constexpr const char* generate_pe_list_doc = R"(Generates a PE list for testing purposes.

Parameters
----------
num_channels : int
    Number of channels to generate PEs for
pes_per_channel : int
    Number of PEs per channel
time_interval : float
    Time interval between PEs in seconds

Returns
-------
List[Tuple[int, List[float]]]
    A list of tuples containing the channel number and a vector of photo electron times in seconds)";

}  // namespace

std::vector<double> to_vector(const DoubleArray& array) {
    const auto count = static_cast<std::size_t>(array.size());
    std::vector<double> values(count);
    if (count == 0) {
        return values;
    }
    const auto* base = reinterpret_cast<const char*>(array.data());
    if (array.flags() & py::array::c_style) {
        std::memcpy(values.data(), base, count * sizeof(double));
        return values;
    }
    // Odometer over the indices in row-major order, following the array's strides.
    const auto ndim = static_cast<std::size_t>(array.ndim());
    std::vector<py::ssize_t> index(ndim, 0);
    for (std::size_t n = 0; n < count; ++n) {
        py::ssize_t offset = 0;
        for (std::size_t d = 0; d < ndim; ++d) {
            offset += index[d] * array.strides(static_cast<py::ssize_t>(d));
        }
        std::memcpy(&values[n], base + offset, sizeof(double));
        for (std::size_t d = ndim; d-- > 0;) {
            if (++index[d] < array.shape(static_cast<py::ssize_t>(d))) {
                break;
            }
            index[d] = 0;
        }
    }
    return values;
}

void register_containers(py::module_& m) {
    bind_scalar_vector<std::vector<double>>(m, "DoubleVector");
    bind_scalar_vector<std::vector<int>>(m, "IntVector");
    bind_scalar_vector<std::vector<std::uint16_t>>(m, "uint16Vector");
    py::bind_vector<std::vector<corvane::TarvexTrigger>>(m, "TarvexTriggerVector", py::module_local());
    py::bind_vector<std::vector<corvane::MultiPMTTrigger>>(m, "MultiPMTTriggerVector",
                                                           py::module_local());
    py::bind_vector<PEList>(m, "PEListVector", py::module_local());
}

void register_generate_pe_list(py::module_& m) {
    m.def("generate_pe_list", &generate_pe_list_helper, py::arg("num_channels"),
          py::arg("pes_per_channel"), py::arg("time_interval"), generate_pe_list_doc);
}

}  // namespace pelorin::bindings
