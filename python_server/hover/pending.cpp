#include "lsp_bridge/bodies.h"
namespace hover {
static py::object pending() { PyErr_SetString(PyExc_NotImplementedError, "not built yet"); pyobj::throw_error(); }
py::object format_compact_hover(PyObject* const*) { return pending(); }
py::object get_type_description(PyObject* const*) { return pending(); }
py::object get_hover(PyObject* const*) { return pending(); }
py::object get_signature_help(PyObject* const*) { return pending(); }
}
