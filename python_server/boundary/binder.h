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

// The method bodies running now, on every thread (nested calls count each).
long calls_running();
// In a child made by fork(): only the forking thread's own calls are left.
void calls_after_fork_in_child() noexcept;

// With the GIL held, when the interpreter is about to end its other threads: from now on a call
// made on another thread raises RuntimeError before its body runs, so no thread enters our
// frames that the finalizer could end there (pyobj/gil.h). Calls on this thread run as before.
void close_to_other_threads();

}  // namespace boundary
