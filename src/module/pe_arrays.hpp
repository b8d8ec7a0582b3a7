#pragma once

// Argument checks of the functions that take PEs as NumPy arrays: the type, dtype kind,
// dimension and values of each column, with messages that name the column and the index.

#include "module/bindings.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelorin::bindings {

std::string type_name(const py::handle& object);

/// An int argument as a 64-bit value; nullopt if it does not fit. `requirement` opens
/// the message of the TypeError for anything that is not an integer.
std::optional<long long> to_long_long(const py::handle& value, const std::string& requirement);

/// `values` as a one-dimensional NumPy array of a dtype kind listed in `kinds`, which
/// `kind_names` names for the error message.
py::array numeric_vector(const py::handle& values, const std::string& what, const char* kinds,
                         const char* kind_names);

template <typename T>
using Contiguous = py::array_t<T, py::array::c_style | py::array::forcecast>;

/// A numeric vector converted to T, contiguous.
template <typename T>
Contiguous<T> contiguous(const py::array& values, const std::string& what) {
    auto converted = Contiguous<T>::ensure(values);
    if (!converted) {
        throw py::value_error(what + " cannot be converted to " + py::str(py::dtype::of<T>()).cast<std::string>());
    }
    return converted;
}

using TimeArray = Contiguous<double>;

/// PE times as contiguous float64, every one finite.
TimeArray finite_times(const py::handle& values, const std::string& what);

/// The values of an integer vector (`column`, e.g. "channels") as Target, each checked to
/// fit; `item` names one value and `range` Target's range in the message. Widening to the
/// 64-bit type of the same signedness keeps every value, so the check sees the caller's numbers.
template <typename Target>
std::vector<Target> checked_integers(const py::array& values, const std::string& column, const std::string& item,
                                     const char* range) {
    auto convert = [&]<typename Wide>(const Contiguous<Wide>& wide) {
        const Wide* data = wide.data();
        std::vector<Target> result(static_cast<std::size_t>(wide.size()));
        for (std::size_t i = 0; i < result.size(); ++i) {
            if (!std::in_range<Target>(data[i])) {
                throw py::value_error(item + " " + std::to_string(data[i]) + " lies outside " + range +
                                      " (index " + std::to_string(i) + ")");
            }
            result[i] = static_cast<Target>(data[i]);
        }
        return result;
    };
    return values.dtype().kind() == 'u' ? convert(contiguous<std::uint64_t>(values, column))
                                        : convert(contiguous<std::int64_t>(values, column));
}

/// Channel numbers of every PE: integers within the signed 32-bit range.
inline std::vector<int> channel_numbers(const py::array& values) {
    return checked_integers<int>(values, "channels", "channel", "the signed 32-bit range");
}

}  // namespace pelorin::bindings
