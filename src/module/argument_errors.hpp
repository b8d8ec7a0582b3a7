#pragma once

// Type and keyword errors that name the argument.
//
// A call that matches no overload of a bound function raises the binding library's
// TypeError, which lists every accepted signature but never says which argument is
// wrong. For the models' constructors and methods and the module functions that take
// model input, one last line is added to that TypeError: the offending argument (or
// unknown keyword), what was given and what is expected. The same check is offered as
// pelorin.check_model_arguments, for constructor arguments collected before a model is
// built (pelorin_dask.ModelArguments).

#include "module/bindings.hpp"

namespace pelorin::bindings {

/// Registers check_model_arguments, then has the covered functions name the offending
/// argument in their TypeError. Call after every other registration: it finds the
/// functions in the module and needs them all bound.
void register_argument_errors(py::module_& m);

}  // namespace pelorin::bindings
