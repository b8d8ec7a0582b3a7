#include "module/argument_errors.hpp"

#include <pybind11/stl/filesystem.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pelorin/tarvex.hpp"

// Why a trampoline. The binding library raises its "incompatible function arguments"
// TypeError from inside its dispatcher, after it has tried every overload; it offers no
// hook there, and no C++ exception passes through an exception translator. Wrapping the
// functions in other objects would change the objects, their overloads and their
// docstrings, which the API keeps. The dispatcher is reached through the PyMethodDef
// that the library allocates for every function (one per overload chain), whose
// ml_meth the interpreter reads at every call. That pointer is replaced by
// `dispatch_naming_the_argument`, which calls the library's dispatcher unchanged and,
// only when it returns the listing TypeError of that very function, appends one line
// that names the offending argument. Function objects, overloads, docstrings and every
// successful call stay exactly as they were; the table of covered functions is complete
// before the module is returned and only read afterwards.

namespace pelorin::bindings {
namespace {

/// What a parameter takes; each kind is checked with the binding's own conversion.
enum class Kind {
    any,             ///< py::object: anything
    real,            ///< double
    int32,           ///< int
    size,            ///< std::size_t
    path,            ///< std::filesystem::path
    times,           ///< std::vector<double> or a float64 array (the two overloads)
    int_list,        ///< std::vector<int>: an IntVector, or a list
    early_handling,  ///< Tarvex::EarlyHandling
    pe_list,         ///< PEList: a PEListVector
};

struct Parameter {
    const char* name;
    Kind kind;
    bool has_default;
};

constexpr Parameter required(const char* name, Kind kind) { return {name, kind, false}; }
constexpr Parameter optional(const char* name, Kind kind) { return {name, kind, true}; }

/// A covered function: where it is bound and its parameters after self.
struct Signature {
    const char* owner;   ///< class name, nullptr for a module function
    const char* member;  ///< function name, as the binding library's messages open
    std::vector<Parameter> parameters;
    std::string name;  ///< qualified name, "Tarvex.simulate"
    py::handle cls;    ///< the class of a method or constructor (lives as long as the module)

    bool is_method() const { return owner != nullptr; }
    bool is_constructor() const { return std::strcmp(member, "__init__") == 0; }
};

Signature covered(const char* owner, const char* member, std::vector<Parameter> parameters) {
    std::string name = owner != nullptr ? std::string(owner) + "." + member : member;
    return {owner, member, std::move(parameters), std::move(name), py::handle()};
}

/// The covered functions with the parameters of their bindings (camera.cpp, multipmt.cpp,
/// bindings.hpp, containers.cpp, arrays.cpp), each kind that of its C++ parameter type.
/// Names, order and defaults are checked against the bindings when the module loads.
std::vector<Signature> covered_functions() {
    using K = Kind;
    // clang-format off
    const std::vector<Parameter> tarvex_init{
        required("time_spectrum", K::path), required("amplitude_spectrum", K::path), required("pmt_time_step", K::real),
        required("adc_step", K::real), required("pulse_shape", K::path), required("jitter", K::int32),
        required("gain", K::real), required("offset", K::real), required("preamp_clip", K::real),
        required("noise", K::real), required("clip", K::real), required("waveform_samples", K::int32),
        required("retrigger_offset", K::int32), required("trigger_kernel", K::int_list),
        required("adc_threshold", K::int32), required("trigger_norm", K::int32), required("trigger_offset", K::int32),
        required("seed", K::int32), optional("early_handling", K::early_handling)};
    const std::vector<Parameter> multipmt_init{
        required("time_spectrum", K::path), required("amplitude_spectrum", K::path), required("pmt_time_step", K::real),
        required("tot_step", K::real), required("tot_pulse_shape", K::path), required("tot_threshold", K::real),
        required("tot_dead_time", K::real), required("tot_noise", K::real), required("tot_jitter", K::real),
        required("adc_step", K::real), required("adc_pulse_shape", K::path), required("adc_jitter", K::int32),
        required("adc_gain", K::real), required("adc_offset", K::real), required("adc_noise", K::real),
        required("adc_clip", K::real), required("sample_delay", K::real), required("seed", K::int32)};
    // clang-format on
    const std::vector<Parameter> simulate{required("pe_times", K::times), optional("channel", K::int32)};
    const std::vector<Parameter> external_trigger{
        required("pe_times", K::times), required("trigger_times", K::times), required("readout_window", K::real),
        optional("channel", K::int32)};
    const std::vector<Parameter> pe_list{required("pe_list", K::pe_list)};
    const std::vector<Parameter> calibrate_delay{required("num_pes", K::size), required("num_sim", K::size)};
    return {
        covered("Tarvex", "__init__", tarvex_init),
        covered("Tarvex", "simulate", simulate),
        covered("Tarvex", "simulate_external_trigger", external_trigger),
        covered("Tarvex", "simulate_pe_list", pe_list),
        covered("Tarvex", "calibrate_delay", calibrate_delay),
        covered("MultiPMT", "__init__", multipmt_init),
        covered("MultiPMT", "simulate", simulate),
        covered("MultiPMT", "simulate_pe_list", pe_list),
        covered("MultiPMT", "calibrate_delay", calibrate_delay),
        covered(nullptr, "records_to_array",
                {required("records", K::any), optional("waveform_samples", K::any), optional("tot_step", K::any)}),
        covered(nullptr, "pe_list_from_arrays", {required("channels", K::any), optional("times", K::any)}),
        covered(nullptr, "generate_pe_list",
                {required("num_channels", K::int32), required("pes_per_channel", K::int32),
                 required("time_interval", K::real)}),
        covered(nullptr, "records_to_columns", {required("records", K::any), optional("tot_step", K::any)}),
        covered(nullptr, "simulate_pe_list", {required("model", K::any), required("pe_list", K::any)}),
        covered(nullptr, "analog_signal", {required("model", K::any), required("pe_times", K::times)}),
    };
}

// ---- What was given ----

/// "numpy.ndarray", "pelorin.IntVector"; builtins by their bare name.
std::string qualified_name(py::handle type) {
    try {
        const std::string name = py::str(type.attr("__qualname__"));
        const std::string module = py::str(type.attr("__module__"));
        return module == "builtins" ? name : module + "." + name;
    } catch (const py::error_already_set&) {
        PyErr_Clear();
        return reinterpret_cast<PyTypeObject*>(type.ptr())->tp_name;
    }
}

std::string type_name(py::handle value) { return qualified_name(py::type::handle_of(value)); }

std::string truncated(std::string text, std::size_t limit = 40) {
    return text.size() <= limit ? text : text.substr(0, limit - 3) + "...";
}

/// A value whose repr is short and tells what it is.
bool is_shown(py::handle value) {
    PyObject* object = value.ptr();
    if (PyLong_Check(object) || PyFloat_Check(object) || PyComplex_Check(object) || PyUnicode_Check(object) ||
        PyBytes_Check(object) || value.is_none()) {
        return true;
    }
    if ((PyList_Check(object) || PyTuple_Check(object)) && PySequence_Size(object) <= 8) {
        return true;
    }
    const std::string module = py::str(py::type::handle_of(value).attr("__module__"));
    return (module == "numpy" && !py::isinstance<py::array>(value)) ||  // NumPy scalars
           PyObject_HasAttrString(py::type::handle_of(value).ptr(), "__fspath__") != 0;
}

/// "7.0 (float)", "'ignore' (str)", "4294967296", "numpy.ndarray", "list of 1000 items".
std::string given(py::handle value) {
    try {
        if (PyType_Check(value.ptr())) {
            return "the class " + qualified_name(value);
        }
        if (!is_shown(value)) {
            const bool sequence = PyList_Check(value.ptr()) || PyTuple_Check(value.ptr());
            return type_name(value) + (sequence ? " of " + std::to_string(py::len(value)) + " items" : "");
        }
        py::object shown = py::reinterpret_borrow<py::object>(value);
        if ((PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr())) && py::len(value) > 40) {
            shown = value[py::slice(0, 41, 1)];  // a long text is cut before its repr is made
        }
        const std::string text = truncated(py::repr(shown));
        return PyLong_CheckExact(value.ptr()) ? text : text + " (" + type_name(value) + ")";
    } catch (const py::error_already_set&) {  // a repr that raises, an int too long to print
        PyErr_Clear();
        return type_name(value);
    }
}

// ---- What is expected ----

/// Whether the binding's conversion for T takes the value (as in the overload
/// resolution's converting pass).
template <typename T>
bool converts(py::handle value) {
    // Holds the temporaries of a conversion (a list made an IntVector) as a call does;
    // outside a call the conversion would refuse to make them.
    const py::detail::loader_life_support temporaries;
    py::detail::make_caster<T> caster;
    const bool loaded = caster.load(value, true);
    PyErr_Clear();
    return loaded;
}

std::string not_converted(py::handle value) {
    return PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr())
               ? " (a " + type_name(value) + " is not converted)"
               : "";
}

/// The value's __index__, if it has one that works.
std::optional<py::object> index_value(py::handle value) {
    if (!PyIndex_Check(value.ptr())) {
        return std::nullopt;
    }
    auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) {
        PyErr_Clear();
        return std::nullopt;
    }
    return index;
}

std::optional<std::string> real_problem(py::handle value) {
    if (converts<double>(value)) {
        return std::nullopt;
    }
    return "expected a float or an int" + not_converted(value);
}

std::optional<std::string> int32_problem(py::handle value) {
    if (converts<int>(value)) {
        return std::nullopt;
    }
    if (PyFloat_Check(value.ptr())) {
        return "expected an int (a float is not taken, even when whole)";
    }
    if (index_value(value)) {
        return "expected an int in the signed 32-bit range";
    }
    return "expected an int" + not_converted(value);
}

std::optional<std::string> size_problem(py::handle value) {
    if (converts<std::size_t>(value)) {
        return std::nullopt;
    }
    if (PyFloat_Check(value.ptr())) {
        return "expected a non-negative int (a float is not taken, even when whole)";
    }
    if (const auto index = index_value(value)) {
        int overflow = 0;
        const long long number = PyLong_AsLongLongAndOverflow(index->ptr(), &overflow);
        if (overflow < 0 || (overflow == 0 && number < 0)) {
            return "expected a non-negative int";
        }
        return "expected a non-negative int within " + std::to_string(8 * sizeof(std::size_t)) + " bits";
    }
    return "expected a non-negative int" + not_converted(value);
}

std::optional<std::string> path_problem(py::handle value) {
    if (converts<std::filesystem::path>(value)) {
        return std::nullopt;
    }
    return std::string("expected a path (str, bytes or os.PathLike)") +
           (PyUnicode_Check(value.ptr()) ? "; this str is not a valid file name" : "");
}

/// Why NumPy does not make a float64 array of the value: "ValueError: could not ...".
std::string numpy_reason(py::handle value) {
    try {
        py::module_::import("numpy").attr("asarray")(value, py::arg("dtype") = "float64");
    } catch (const py::error_already_set& error) {
        const std::string type = py::str(error.type().attr("__name__"));
        std::string message = py::str(error.value());
        message = message.substr(0, message.find('\n'));
        return " (NumPy: " + truncated(type + ": " + message, 100) + ")";
    }
    return "";
}

std::optional<std::string> times_problem(py::handle value) {
    if (converts<std::vector<double>>(value) || converts<DoubleArray>(value)) {
        return std::nullopt;
    }
    return "expected a list of floats, a DoubleVector or anything NumPy converts to float64" + numpy_reason(value);
}

std::optional<std::string> int_list_problem(const char* name, py::handle value) {
    if (converts<std::vector<int>>(value)) {
        return std::nullopt;
    }
    const std::string expected = "expected a list of ints or an IntVector";
    if (py::isinstance<py::array>(value)) {
        return expected + " (for an array, pass " + name + ".tolist())";
    }
    if (PyTuple_Check(value.ptr())) {
        return expected + " (for a tuple, pass list(" + name + "))";
    }
    if (PyList_Check(value.ptr())) {
        const auto items = py::reinterpret_borrow<py::list>(value);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (!converts<int>(items[i])) {
                return expected + ", but item " + std::to_string(i) + " is " + given(items[i]);
            }
        }
    }
    return expected;
}

std::optional<std::string> early_handling_problem(py::handle value) {
    if (converts<Tarvex::EarlyHandling>(value)) {
        return std::nullopt;
    }
    const py::object type = py::type::of(py::cast(Tarvex::EarlyHandling::WARN));
    const std::string type_text = qualified_name(type);
    std::vector<std::string> names;
    std::string matched;
    const auto text = [](py::handle object) { return py::str(object).cast<std::string>(); };
    const auto lower = [](std::string word) {
        for (char& c : word) {
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return word;
    };
    for (const auto& [name, member] : py::reinterpret_borrow<py::dict>(type.attr("__members__"))) {
        names.push_back(text(name));
        const bool same_name = PyUnicode_Check(value.ptr()) && lower(text(name)) == lower(text(value));
        const bool same_value = PyLong_CheckExact(value.ptr()) &&
                                PyObject_RichCompareBool(member.attr("value").ptr(), value.ptr(), Py_EQ) == 1;
        if (matched.empty() && (same_name || same_value)) {
            matched = names.back();
        }
    }
    if (!matched.empty()) {
        return "expected a " + type_text + " member such as " + type_text + "." + matched;
    }
    std::string listed;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            listed += i + 1 == names.size() ? " or " : ", ";
        }
        listed += names[i];
    }
    return "expected a " + type_text + " member: " + type_text + "." + listed;
}

std::optional<std::string> pe_list_problem(const char* name, py::handle value) {
    if (converts<PEList>(value)) {
        return std::nullopt;
    }
    if (PyList_Check(value.ptr())) {
        return std::string("expected a PEListVector (pelorin.PEListVector(") + name +
               ") converts a list of (channel, times) pairs)";
    }
    return "expected a PEListVector (pelorin.simulate_pe_list(model, pe_list) also takes a mapping "
           "{channel: times} or a (channels, times) pair)";
}

/// "got ...; expected ..." if the parameter does not take the value.
std::optional<std::string> problem(const Parameter& parameter, py::handle value) {
    std::optional<std::string> expected;
    switch (parameter.kind) {
        case Kind::any:
            break;
        case Kind::real:
            expected = real_problem(value);
            break;
        case Kind::int32:
            expected = int32_problem(value);
            break;
        case Kind::size:
            expected = size_problem(value);
            break;
        case Kind::path:
            expected = path_problem(value);
            break;
        case Kind::times:
            expected = times_problem(value);
            break;
        case Kind::int_list:
            expected = int_list_problem(parameter.name, value);
            break;
        case Kind::early_handling:
            expected = early_handling_problem(value);
            break;
        case Kind::pe_list:
            expected = pe_list_problem(parameter.name, value);
            break;
    }
    if (!expected) {
        return std::nullopt;
    }
    return "got " + given(value) + "; " + *expected;
}

// ---- The diagnosis ----

/// The arguments of a call; self apart.
struct Call {
    py::handle self;
    std::vector<py::handle> positional;
    std::vector<std::pair<std::string, py::handle>> keywords;
};

std::string parameter_names(const Signature& signature) {
    std::string names;
    for (const Parameter& parameter : signature.parameters) {
        if (!names.empty()) {
            names += ", ";
        }
        names += parameter.name;
    }
    return names;
}

std::size_t index_of(const Signature& signature, const std::string& name) {
    for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
        if (name == signature.parameters[i].name) {
            return i;
        }
    }
    return signature.parameters.size();
}

std::string unknown_keyword(const Signature& signature, const std::string& keyword) {
    py::list names;
    for (const Parameter& parameter : signature.parameters) {
        names.append(parameter.name);
    }
    const py::list close = py::module_::import("difflib").attr("get_close_matches")(keyword, names, 1, 0.6);
    std::string line = "unknown keyword '" + keyword + "'";
    if (!close.empty()) {
        line += " (did you mean '" + close[0].cast<std::string>() + "'?)";
    }
    return line + "; " + signature.name + " takes " + parameter_names(signature);
}

/// The first problem of the call, in the order: too many positional arguments, an unknown
/// keyword, an argument given twice, a missing argument (`may_be_absent` excepted), then
/// self and each argument's type in parameter order. Nothing if none is found.
std::optional<std::string> diagnose(const Signature& signature, const Call& call,
                                    const char* may_be_absent = nullptr) {
    const auto& parameters = signature.parameters;
    if (call.positional.size() > parameters.size()) {
        return "too many positional arguments: " + signature.name + " takes at most " +
               std::to_string(parameters.size()) + " (" + parameter_names(signature) + "), got " +
               std::to_string(call.positional.size());
    }
    for (const auto& keyword : call.keywords) {
        if (index_of(signature, keyword.first) == parameters.size()) {
            return unknown_keyword(signature, keyword.first);
        }
    }
    std::vector<py::handle> values(call.positional);
    values.resize(parameters.size());
    for (const auto& [name, value] : call.keywords) {
        const std::size_t index = index_of(signature, name);
        if (values[index]) {
            return "argument '" + name + "' given twice, by position and by keyword";
        }
        values[index] = value;
    }
    // The binding library checks a constructor's self before it lists anything.
    const bool is_method = signature.is_method() && !signature.is_constructor();
    if (is_method && !call.self) {
        return std::string("missing argument 'self'");
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const bool exempt = may_be_absent != nullptr && std::strcmp(parameters[i].name, may_be_absent) == 0;
        if (!values[i] && !parameters[i].has_default && !exempt) {
            return "missing argument '" + std::string(parameters[i].name) + "'";
        }
    }
    if (is_method && !py::isinstance(call.self, signature.cls)) {
        return "self: got " + given(call.self) + "; expected a " + qualified_name(signature.cls);
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (values[i]) {
            if (auto found = problem(parameters[i], values[i])) {
                return parameters[i].name + (": " + *found);
            }
        }
    }
    return std::nullopt;
}

// ---- The trampoline ----

/// The binding library's dispatcher, as its PyMethodDef holds it: one function, which
/// tells the bound functions apart by their function record, the self it is called with.
using Dispatcher = PyObject* (*)(PyObject*, PyObject* const*, std::size_t, PyObject*);

Dispatcher library_dispatcher = nullptr;

struct Entry {
    Signature signature;
    py::object record;  ///< the function-record object, held so that its address stays its own
};

/// Covered functions by the self of their function object, the binding library's function
/// record. Filled at module initialisation, read only afterwards; never destroyed, as it
/// holds references that must not be released after the interpreter has finalised.
std::unordered_map<PyObject*, Entry>& entries() {
    static auto* table = new std::unordered_map<PyObject*, Entry>();
    return *table;
}

/// The raised exception, normalised, set again when this goes out of scope.
class FetchedError {
public:
    FetchedError() {
#if PY_VERSION_HEX >= 0x030C0000
        value_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&type_, &value_, &traceback_);
        PyErr_NormalizeException(&type_, &value_, &traceback_);
        if (traceback_ != nullptr && value_ != nullptr) {
            PyException_SetTraceback(value_, traceback_);
        }
#endif
    }
    FetchedError(const FetchedError&) = delete;
    FetchedError& operator=(const FetchedError&) = delete;
    ~FetchedError() {
        PyErr_Clear();  // whatever the diagnosis left behind
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(value_);
#else
        PyErr_Restore(type_, value_, traceback_);
#endif
    }

    PyObject* value() const { return value_; }

private:
#if PY_VERSION_HEX < 0x030C0000
    PyObject* type_ = nullptr;
    PyObject* traceback_ = nullptr;
#endif
    PyObject* value_ = nullptr;
};

Call call_of(const Signature& signature, PyObject* const* args, std::size_t count, PyObject* kwnames) {
    Call call;
    std::size_t first = 0;
    if (signature.is_method() && count > 0) {
        call.self = args[0];
        first = 1;
    }
    call.positional.assign(args + first, args + count);
    const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        std::string name = py::str(PyTuple_GET_ITEM(kwnames, i));
        const py::handle value = args[count + static_cast<std::size_t>(i)];
        if (signature.is_method() && name == "self") {
            call.self = value;
        } else {
            call.keywords.emplace_back(std::move(name), value);
        }
    }
    return call;
}

/// Appends the line naming the offending argument to the listing TypeError that the
/// function has just raised; any other error, and any failure here, leaves the raised
/// error as it was.
void name_the_argument(const Signature& signature, PyObject* const* args, std::size_t count,
                       PyObject* kwnames) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
        return;
    }
    const FetchedError error;
    try {
        if (error.value() == nullptr ||
            !PyObject_TypeCheck(error.value(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
            return;
        }
        const std::string message = py::str(error.value());
        const bool listing = message.rfind(std::string(signature.member) + "(): incompatible ", 0) == 0 &&
                             (message.find("incompatible function arguments") != std::string::npos ||
                              message.find("incompatible constructor arguments") != std::string::npos);
        if (!listing) {
            return;
        }
        if (const auto line = diagnose(signature, call_of(signature, args, count, kwnames))) {
            const py::tuple new_args = py::make_tuple(py::str(message + "\n" + *line));
            PyObject_SetAttrString(error.value(), "args", new_args.ptr());  // on failure the message stays
        }
    } catch (...) {
        // The diagnosis failed: the error is raised as the binding library made it.
    }
}

/// The ml_meth of the covered functions: the library's dispatcher, then, if it failed,
/// the line that names the argument.
PyObject* dispatch_naming_the_argument(PyObject* self, PyObject* const* args, std::size_t nargs,
                                       PyObject* kwnames) {
    PyObject* result = library_dispatcher(self, args, nargs, kwnames);
    if (result == nullptr) {
        const auto found = entries().find(self);
        if (found != entries().end()) {  // always: only covered functions come here
            name_the_argument(found->second.signature, args, static_cast<std::size_t>(PyVectorcall_NARGS(nargs)),
                              kwnames);
        }
    }
    return result;
}

/// Checks that the described parameters are those of every overload of the binding.
void check_against_binding(const Signature& signature, const py::detail::function_record* record) {
    for (const auto* overload = record; overload != nullptr; overload = overload->next) {
        const std::size_t skip = overload->is_method ? 1 : 0;  // self
        bool same = overload->is_method == signature.is_method() &&
                    overload->is_constructor == signature.is_constructor() && !overload->has_args &&
                    !overload->has_kwargs && overload->args.size() == skip + signature.parameters.size();
        for (std::size_t i = 0; same && i < signature.parameters.size(); ++i) {
            const auto& bound = overload->args[skip + i];
            same = std::strcmp(bound.name, signature.parameters[i].name) == 0 &&
                   static_cast<bool>(bound.value) == signature.parameters[i].has_default;
        }
        if (!same) {
            py::pybind11_fail("argument_errors.cpp: the parameters described for " + signature.name +
                              " differ from its binding");
        }
    }
}

void install(py::module_& m, Signature signature) {
    py::object function;
    if (signature.is_method()) {
        const py::object cls = m.attr(signature.owner);  // the module holds the class
        signature.cls = cls;
        function = cls.attr("__dict__")[signature.member];
    } else {
        function = m.attr(signature.member);
    }
    PyObject* callable = function.ptr();
    if (PyInstanceMethod_Check(callable)) {
        callable = PyInstanceMethod_GET_FUNCTION(callable);
    }
    const py::detail::function_record* record =
        PyCFunction_Check(callable) ? py::detail::function_record_ptr_from_PyObject(PyCFunction_GET_SELF(callable))
                                    : nullptr;
    if (record == nullptr) {
        py::pybind11_fail("argument_errors.cpp: " + signature.name + " is not a bound function");
    }
    check_against_binding(signature, record);
    PyMethodDef* definition = reinterpret_cast<PyCFunctionObject*>(callable)->m_ml;
    const auto trampoline = &dispatch_naming_the_argument;
    const auto original = reinterpret_cast<Dispatcher>(reinterpret_cast<void (*)()>(definition->ml_meth));
    if (original == trampoline) {
        return;  // installed by an earlier initialisation
    }
    if (library_dispatcher != nullptr && original != library_dispatcher) {
        py::pybind11_fail("argument_errors.cpp: " + signature.name + " is called through another dispatcher");
    }
    library_dispatcher = original;
    PyObject* self = PyCFunction_GET_SELF(callable);
    entries().insert_or_assign(self, Entry{std::move(signature), py::reinterpret_borrow<py::object>(self)});
    definition->ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline));
}

// ---- check_model_arguments ----

void check_model_arguments(const py::object& model, const py::kwargs& arguments) {
    const Signature* constructor = nullptr;
    for (const auto& [self, entry] : entries()) {
        if (entry.signature.is_constructor() && PyType_Check(model.ptr()) &&
            PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(model.ptr()),
                             reinterpret_cast<PyTypeObject*>(entry.signature.cls.ptr()))) {
            constructor = &entry.signature;
        }
    }
    if (constructor == nullptr) {
        throw py::type_error("model must be pelorin.Tarvex or pelorin.MultiPMT, not " + given(model));
    }
    Call call;
    for (const auto& [name, value] : arguments) {
        call.keywords.emplace_back(py::str(name), value);
    }
    if (const auto line = diagnose(*constructor, call, "seed")) {
        throw py::type_error(*line);
    }
}

constexpr const char* check_model_arguments_doc =
    R"(Checks the constructor arguments of a model without building it.

Checks what the constructor's conversion of its arguments checks, with the message a
wrong call's TypeError ends with: that every keyword names a parameter of the constructor,
that every parameter but seed is given, and that every value is of a type the parameter
takes. seed may be absent, as for arguments whose seed is chosen later; when given, it is
checked too. No file is read and no value is checked against its limits: a missing
spectrum file or a negative step is refused when the model is built.

Parameters
----------
model : type
    pelorin.Tarvex or pelorin.MultiPMT; a subclass is checked against its pelorin constructor
**arguments
    Constructor arguments by keyword

Returns
-------
None

Raises
------
TypeError
    If model is neither class, a keyword names no parameter of its constructor, an argument
    other than seed is missing or a value is of a type the constructor does not take; the
    message is one line that names the argument)";

}  // namespace

void register_argument_errors(py::module_& m) {
    m.def("check_model_arguments", &check_model_arguments, py::arg("model"), py::pos_only(),
          check_model_arguments_doc);
    for (Signature& signature : covered_functions()) {
        install(m, std::move(signature));
    }
}

}  // namespace pelorin::bindings
