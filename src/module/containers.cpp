#include "module/bindings.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <new>
#include <sstream>
#include <stdexcept>

#include "models/input_checks.hpp"

namespace pelorin::bindings {

void throw_stale(const char* container, std::size_t index) {
    const std::string message = std::string(container) + " element " + std::to_string(index) +
                                " has been removed, replaced or shifted since this view of it was taken";
    PyErr_SetString(PyExc_ReferenceError, message.c_str());
    throw py::error_already_set();
}

namespace {

/// How the elements of a HostVector<T> cross to the host and back: scalars by value.
template <typename T>
struct Elements {
    using Arg = T;
    static constexpr bool comparable = true;
    static constexpr bool printable = true;

    static T value(const Arg& arg) { return arg; }
    static py::object view(HostVector<T>& container, std::size_t index) {
        return py::cast(container.items()[index]);
    }
    static py::object detached(T&& value) { return py::cast(value); }
};

/// Records cross as views into their container; a record taken out of its container
/// lives on as the only element of a container of its own.
template <typename Record>
struct RecordElements {
    using Arg = ElementView<Record>;
    static constexpr bool comparable = false;
    static constexpr bool printable = false;

    static Record value(const Arg& arg) { return arg.get(); }
    static py::object view(HostVector<Record>& container, std::size_t index) {
        return py::cast(ElementView<Record>{container.slot(index)});
    }
    static py::object detached(Record&& record) {
        auto container = std::make_shared<HostVector<Record>>(std::vector<Record>{});
        container->items().push_back(std::move(record));
        return view(*container, 0);
    }
};

template <>
struct Elements<corvane::TarvexTrigger> : RecordElements<corvane::TarvexTrigger> {};
template <>
struct Elements<corvane::MultiPMTTrigger> : RecordElements<corvane::MultiPMTTrigger> {};

/// PE-list entries cross as new (channel, times) tuples whose times view the entry.
template <>
struct Elements<PEEntry> {
    using Arg = PEEntry;
    static constexpr bool comparable = true;
    static constexpr bool printable = false;

    static PEEntry value(const Arg& arg) { return arg; }
    static py::object view(HostVector<PEEntry>& container, std::size_t index) {
        MemberRef<double> times{container.slot(index), &member_of<PEEntry, double, &PEEntry::second>};
        return py::make_tuple(container.items()[index].first, HostVector<double>(std::move(times)));
    }
    static py::object detached(PEEntry&& entry) { return py::cast(std::move(entry)); }
};

std::string describe(py::handle item) {
    try {
        std::string text = py::repr(item);
        return text.size() <= 60 ? text : text.substr(0, 57) + "...";
    } catch (const py::error_already_set&) {
        return std::string("a ") + Py_TYPE(item.ptr())->tp_name;
    }
}

template <typename T>
T element_value(py::handle item, std::size_t position) {
    using Arg = typename Elements<T>::Arg;
    py::detail::make_caster<Arg> caster;
    if (item.is_none() || !caster.load(item, true)) {
        throw py::cast_error(std::string(container_name<T>) + " cannot hold item " + std::to_string(position) +
                             ", " + describe(item));
    }
    return Elements<T>::value(py::detail::cast_op<const Arg&>(caster));
}

/// Every item converted before anything is stored, so a failed conversion changes nothing.
template <typename T>
std::vector<T> converted_items(const py::iterable& items) {
    std::vector<T> values;
    if (py::isinstance<py::list>(items) || py::isinstance<py::tuple>(items)) {
        values.reserve(py::len(items));
    }
    for (const py::handle item : items) {
        values.push_back(element_value<T>(item, values.size()));
    }
    return values;
}

template <typename T>
void append(HostVector<T>& container, std::vector<T>&& values) {
    auto& items = container.items();
    const std::size_t first = items.size();
    items.insert(items.end(), std::make_move_iterator(values.begin()), std::make_move_iterator(values.end()));
    container.shifted_from(first);
}

template <typename T>
std::size_t checked_index(std::ptrdiff_t index, std::size_t size, bool end_allowed = false) {
    const auto count = static_cast<std::ptrdiff_t>(size);
    if (index < 0) {
        index += count;
    }
    if (index < 0 || index > count || (index == count && !end_allowed)) {
        throw py::index_error(std::string(container_name<T>) + " index out of range");
    }
    return static_cast<std::size_t>(index);
}

struct SliceRange {
    std::size_t start, step, length;  // step wraps for negative steps, as the index does
};

SliceRange slice_range(const py::slice& slice, std::size_t size) {
    std::size_t start = 0, stop = 0, step = 0, length = 0;
    if (!slice.compute(size, &start, &stop, &step, &length)) {
        throw py::error_already_set();
    }
    return {start, step, length};
}

template <typename T>
void delete_slice(HostVector<T>& container, const py::slice& slice) {
    auto& items = container.items();
    const auto [start, step, length] = slice_range(slice, items.size());
    if (length == 0) {
        return;
    }
    std::vector<bool> doomed(items.size());
    std::size_t lowest = start;
    for (std::size_t k = 0, index = start; k < length; ++k, index += step) {
        doomed[index] = true;
        lowest = std::min(lowest, index);
    }
    std::size_t kept = lowest;
    for (std::size_t index = lowest; index < items.size(); ++index) {
        if (!doomed[index]) {
            items[kept++] = std::move(items[index]);
        }
    }
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(kept), items.end());
    container.shifted_from(lowest);
}

template <typename T>
void assign_slice(HostVector<T>& container, const py::slice& slice, const HostVector<T>& source) {
    std::vector<T> values = source.items();  // a copy: the source may be this container
    auto& items = container.items();
    const auto [start, step, length] = slice_range(slice, items.size());
    if (length != values.size()) {
        throw std::runtime_error("Left and right hand size of slice assignment have different sizes!");
    }
    for (std::size_t k = 0, index = start; k < length; ++k, index += step) {
        items[index] = std::move(values[k]);
        container.replaced(index);
    }
}

template <typename T>
std::string representation(const HostVector<T>& container) {
    std::ostringstream text;
    text << container_name<T> << '[';
    const char* separator = "";
    for (const auto& value : container.items()) {
        text << separator << value;
        separator = ", ";
    }
    text << ']';
    return text.str();
}

/// Walks the container by index, so that changing the container while iterating is safe.
template <typename T>
struct HostIterator {
    std::shared_ptr<HostVector<T>> container;  ///< released once exhausted
    std::size_t next = 0;
};

template <typename T>
void bind_iterator() {
    py::class_<HostIterator<T>>(py::handle(), "iterator", py::module_local())
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](HostIterator<T>& iterator) {
            if (!iterator.container || iterator.next >= iterator.container->items().size()) {
                iterator.container.reset();
                throw py::stop_iteration();
            }
            return Elements<T>::view(*iterator.container, iterator.next++);
        });
    refuse_uninitialised<HostIterator<T>>();
}

template <typename T>
void bind_equality(py::class_<HostVector<T>, std::shared_ptr<HostVector<T>>>& cls) {
    using Host = HostVector<T>;
    cls.def(
        "__eq__", [](const Host& a, const Host& b) { return a.items() == b.items(); }, py::is_operator());
    cls.def(
        "__ne__", [](const Host& a, const Host& b) { return a.items() != b.items(); }, py::is_operator());
    cls.def(
        "count", [](const Host& c, const T& x) { return std::count(c.items().begin(), c.items().end(), x); },
        py::arg("x"), "Return the number of times ``x`` appears in the list");
    cls.def(
        "remove",
        [](Host& c, const T& x) {
            auto& items = c.items();
            const auto found = std::find(items.begin(), items.end(), x);
            if (found == items.end()) {
                throw py::value_error(std::string(container_name<T>) + ".remove(x): x not in container");
            }
            const auto index = static_cast<std::size_t>(found - items.begin());
            items.erase(found);
            c.shifted_from(index);
        },
        py::arg("x"),
        "Remove the first item from the list whose value is x. It is an error if there is no such item.");
    cls.def(
        "__contains__",
        [](const Host& c, const T& x) {
            return std::find(c.items().begin(), c.items().end(), x) != c.items().end();
        },
        py::arg("x"), "Return true the container contains ``x``");
}

/// The mutable-sequence methods, in the order, with the names and docstrings, of
/// pybind11's bind_vector, which the host classes have always offered.
template <typename T>
void bind_host_vector(py::module_& m) {
    using Host = HostVector<T>;
    using Items = typename Host::Items;
    using E = Elements<T>;
    using Arg = typename E::Arg;
    constexpr const char* extend_doc = "Extend the list by appending all the items in the given list";

    py::class_<Host, std::shared_ptr<Host>> cls(m, container_name<T>, py::module_local());
    cls.def(py::init([] { return std::make_shared<Host>(); }));
    cls.def(py::init([](const Host& other) { return std::make_shared<Host>(other.items()); }), "Copy constructor");
    if constexpr (E::comparable) {
        bind_equality(cls);
    }
    if constexpr (E::printable) {
        cls.def("__repr__", &representation<T>, "Return the canonical string representation of this list.");
    }
    cls.def(
        "append", [](Host& c, const Arg& x) { append(c, Items{E::value(x)}); }, py::arg("x"),
        "Add an item to the end of the list");
    cls.def(py::init([](const py::iterable& items) { return std::make_shared<Host>(converted_items<T>(items)); }));
    cls.def(
        "clear",
        [](Host& c) {
            c.items().clear();
            c.shifted_from(0);
        },
        "Clear the contents");
    cls.def(
        "extend", [](Host& c, const Host& source) { append(c, Items(source.items())); }, py::arg("L"), extend_doc);
    cls.def(
        "extend", [](Host& c, const py::iterable& items) { append(c, converted_items<T>(items)); }, py::arg("L"),
        extend_doc);
    cls.def(
        "insert",
        [](Host& c, std::ptrdiff_t i, const Arg& x) {
            T value = E::value(x);
            auto& items = c.items();
            const std::size_t index = checked_index<T>(i, items.size(), true);
            items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
            c.shifted_from(index);
        },
        py::arg("i"), py::arg("x"), "Insert an item at a given position.");
    cls.def(
        "pop",
        [](Host& c) {
            auto& items = c.items();
            if (items.empty()) {
                throw py::index_error(std::string("pop from empty ") + container_name<T>);
            }
            T value = std::move(items.back());
            items.pop_back();
            c.shifted_from(items.size());
            return E::detached(std::move(value));
        },
        "Remove and return the last item");
    cls.def(
        "pop",
        [](Host& c, std::ptrdiff_t i) {
            auto& items = c.items();
            const std::size_t index = checked_index<T>(i, items.size());
            T value = std::move(items[index]);
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(index));
            c.shifted_from(index);
            return E::detached(std::move(value));
        },
        py::arg("i"), "Remove and return the item at index ``i``");
    cls.def("__setitem__", [](Host& c, std::ptrdiff_t i, const Arg& x) {
        T value = E::value(x);
        auto& items = c.items();
        const std::size_t index = checked_index<T>(i, items.size());
        items[index] = std::move(value);
        c.replaced(index);
    });
    cls.def(
        "__getitem__",
        [](const Host& c, const py::slice& slice) {
            const auto& items = c.items();
            const auto [start, step, length] = slice_range(slice, items.size());
            Items copies;
            copies.reserve(length);
            for (std::size_t k = 0, index = start; k < length; ++k, index += step) {
                copies.push_back(items[index]);
            }
            return std::make_shared<Host>(std::move(copies));
        },
        py::arg("s"), "Retrieve list elements using a slice object");
    cls.def("__setitem__", &assign_slice<T>, "Assign list elements using a slice object");
    cls.def(
        "__delitem__",
        [](Host& c, std::ptrdiff_t i) {
            auto& items = c.items();
            const std::size_t index = checked_index<T>(i, items.size());
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(index));
            c.shifted_from(index);
        },
        "Delete the list elements at index ``i``");
    cls.def("__delitem__", &delete_slice<T>, "Delete list elements using a slice object");
    cls.def("__getitem__",
            [](Host& c, std::ptrdiff_t i) { return E::view(c, checked_index<T>(i, c.items().size())); });
    cls.def("__iter__", [](Host& c) { return HostIterator<T>{c.shared_from_this()}; });
    cls.def(
        "__bool__", [](const Host& c) { return !c.items().empty(); }, "Check whether the list is nonempty");
    cls.def("__len__", [](const Host& c) { return c.items().size(); });
    refuse_uninitialised<Host>();
    bind_iterator<T>();
}

template <typename T>
void bind_scalar_vector(py::module_& m) {
    bind_host_vector<T>(m);
    // Host lists convert implicitly; other iterables must be wrapped explicitly.
    py::implicitly_convertible<py::list, HostVector<T>>();
}

[[noreturn]] void raise_memory_error(const std::string& message) {
    PyErr_SetString(PyExc_MemoryError, message.c_str());
    throw py::error_already_set();
}

/// Refuses, before anything is allocated, a PE list that would not fit into the
/// machine's memory (where the system reports it).
void check_pe_list_fits(int num_channels, int pes_per_channel) {
    if (num_channels < 1) {
        return;
    }
    const double per_channel =
        sizeof(PEEntry) + sizeof(double) * static_cast<double>(std::max(pes_per_channel, 0));
    const double bytes = static_cast<double>(num_channels) * per_channel;
    const double memory = checks::physical_memory();
    if (bytes > memory) {
        char message[200];
        std::snprintf(message, sizeof message,
                      "generate_pe_list: %d channels of %d PEs need %.1f GiB, more than the %.1f GiB of "
                      "memory of this machine",
                      num_channels, pes_per_channel, bytes / 1073741824.0, memory / 1073741824.0);
        raise_memory_error(message);
    }
}

PEList generate_pe_list_helper(int num_channels, int pes_per_channel, double time_interval) {
    check_pe_list_fits(num_channels, pes_per_channel);
    PEList pe_list;
    pe_list.reserve(static_cast<std::size_t>(std::max(num_channels, 0)));
    for (int channel = 0; channel < num_channels; ++channel) {
        std::vector<double> times;
        times.reserve(static_cast<std::size_t>(std::max(pes_per_channel, 0)));
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
    using Contiguous = py::array_t<double, py::array::c_style | py::array::forcecast>;
    const auto contiguous = Contiguous::ensure(array);
    if (!contiguous) {
        throw std::bad_alloc();  // float64 in, so only the copy itself can fail
    }
    const double* values = contiguous.data();
    return std::vector<double>(values, values + contiguous.size());
}

void register_containers(py::module_& m) {
    bind_scalar_vector<double>(m);
    bind_scalar_vector<int>(m);
    bind_scalar_vector<std::uint16_t>(m);
    bind_host_vector<corvane::TarvexTrigger>(m);
    bind_host_vector<corvane::MultiPMTTrigger>(m);
    bind_host_vector<PEEntry>(m);
}

void register_generate_pe_list(py::module_& m) {
    m.def("generate_pe_list", &generate_pe_list_helper, py::arg("num_channels"), py::arg("pes_per_channel"),
          py::arg("time_interval"), generate_pe_list_doc);
}

}  // namespace pelorin::bindings
