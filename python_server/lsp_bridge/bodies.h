// The C++ bodies behind the LSPBridge methods, by subsystem. Each receives the bound arguments,
// self first, as the boundary delivers them.
#pragma once

#include "pyobj/errors.h"

namespace lifecycle {
py::object init(PyObject* const* a);
py::object cleanup(PyObject* const* a);
py::object set_hover_mode(PyObject* const* a);
}  // namespace lifecycle

namespace workspace {
py::object preload_corvane_module(PyObject* const* a);
py::object preload_corvane_module_async(PyObject* const* a);
py::object update_sys_paths(PyObject* const* a);
py::object set_workspace(PyObject* const* a);
py::object is_module_name(PyObject* const* a);
py::object sync_modules(PyObject* const* a);
py::object delete_module(PyObject* const* a);
}  // namespace workspace

namespace completion {
py::object get_word_prefix(PyObject* const* a);
py::object get_completions(PyObject* const* a);
}  // namespace completion

namespace hover {
py::object format_signature(PyObject* const* a);
py::object format_compact_hover(PyObject* const* a);
py::object get_type_description(PyObject* const* a);
py::object get_hover(PyObject* const* a);
py::object get_signature_help(PyObject* const* a);
}  // namespace hover

namespace diagnostics {
py::object get_diagnostics(PyObject* const* a);
py::object run_pyflakes(PyObject* const* a);
py::object parse_pyflakes_message(PyObject* const* a);
py::object check_unresolved_imports(PyObject* const* a);
py::object can_resolve_import(PyObject* const* a);
}  // namespace diagnostics
