#include "module/bindings.hpp"

#include "module/pe_arrays.hpp"

#include <cmath>
#include <cstring>

namespace pelorin::bindings {

std::string type_name(const py::handle& object) { return py::str(py::type::handle_of(object).attr("__name__")); }

std::optional<long long> to_long_long(const py::handle& value, const std::string& requirement) {
    if (!PyIndex_Check(value.ptr())) {
        throw py::type_error(requirement + ", not " + type_name(value));
    }
    const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) {
        throw py::error_already_set();
    }
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) {
        return std::nullopt;
    }
    return result;
}

py::array numeric_vector(const py::handle& values, const std::string& what, const char* kinds,
                         const char* kind_names) {
    py::object converted;
    try {
        converted = py::module_::import("numpy").attr("asarray")(values);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) {
            throw;
        }
        py::raise_from(error, PyExc_ValueError, (what + " do not form an array").c_str());
        throw py::error_already_set();
    }
    auto array = py::reinterpret_borrow<py::array>(converted);
    // An empty array holds no value of the wrong kind, whatever its dtype ([] gives float64).
    if (array.size() > 0 && std::strchr(kinds, array.dtype().kind()) == nullptr) {
        throw py::type_error(what + " must be " + kind_names + ", not dtype " +
                             py::str(array.dtype().attr("name")).cast<std::string>());
    }
    if (array.ndim() != 1) {
        throw py::value_error(what + " must be one-dimensional, not " + std::to_string(array.ndim()) +
                              "-dimensional");
    }
    return array;
}

TimeArray finite_times(const py::handle& values, const std::string& what) {
    const auto times = contiguous<double>(numeric_vector(values, what, "iuf", "real numbers"), what);
    const double* data = times.data();
    for (py::ssize_t i = 0; i < times.size(); ++i) {
        if (!std::isfinite(data[i])) {
            throw py::value_error(what + " hold a non-finite value at index " + std::to_string(i));
        }
    }
    return times;
}

}  // namespace pelorin::bindings
