#include "lsp_bridge/bodies.h"
namespace completion {
static py::object pending() { PyErr_SetString(PyExc_NotImplementedError, "not built yet"); pyobj::throw_error(); }
py::object get_word_prefix(PyObject* const*) { return pending(); }
py::object get_completions(PyObject* const*) { return pending(); }
}
