#include "lsp_bridge/bodies.h"
namespace diagnostics {
static py::object pending() { PyErr_SetString(PyExc_NotImplementedError, "not built yet"); pyobj::throw_error(); }
py::object get_diagnostics(PyObject* const*) { return pending(); }
py::object run_pyflakes(PyObject* const*) { return pending(); }
py::object parse_pyflakes_message(PyObject* const*) { return pending(); }
py::object check_unresolved_imports(PyObject* const*) { return pending(); }
py::object can_resolve_import(PyObject* const*) { return pending(); }
}
