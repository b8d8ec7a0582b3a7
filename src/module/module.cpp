#include "module/bindings.hpp"

#include "module/argument_errors.hpp"

// Registration order matters: the containers come before the record and model
// classes, so their element types are still unbound when they are registered.
PYBIND11_MODULE(pelorin, m, py::mod_gil_not_used(), py::multiple_interpreters::not_supported()) {
    // Docstrings are the numpydoc texts alone, without generated signature lines.
    py::options options;
    options.disable_function_signatures();

    pelorin::bindings::register_containers(m);
    pelorin::bindings::register_camera(m);
    pelorin::bindings::register_multipmt(m);
    pelorin::bindings::register_generate_pe_list(m);
    pelorin::bindings::register_arrays(m);
    pelorin::bindings::register_readout_tools(m);
    pelorin::bindings::register_background(m);
    // Last: it finds the functions registered above and names the offending argument in
    // their TypeError (argument_errors.hpp).
    pelorin::bindings::register_argument_errors(m);

    // The project version of CMakeLists.txt, which the wheel metadata also reads.
    m.attr("__version__") = PELORIN_VERSION;
}
