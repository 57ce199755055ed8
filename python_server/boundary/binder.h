// Binding a call to a method row: positional and keyword arguments, defaults, int conversion,
// exact-type checks, the str return check, and the refusal messages of each rule.
#pragma once

#include "boundary/method_row.h"

namespace boundary {

// Binds and runs. `args` holds `nargs` positional values followed by one value per name in
// `kwnames` (a tuple of keyword names, or nullptr); `param_names` are the interned names of the
// row's parameters. Returns a new reference, or nullptr with the error set; no C++ exception
// leaves this function.
PyObject* bind_and_call(const MethodSpec& spec, PyObject* const* param_names, PyObject* globals,
                        PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

}  // namespace boundary
