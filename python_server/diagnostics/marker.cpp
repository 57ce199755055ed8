#include "diagnostics/marker.h"

namespace diagnostics {

py::dict marker(py::handle start_line, py::handle start_column, py::handle end_line, py::handle end_column,
                py::handle message, py::handle severity) {
    static pyobj::Name k_start_line("startLineNumber"), k_start_column("startColumn"), k_end_line("endLineNumber"),
        k_end_column("endColumn"), k_message("message"), k_severity("severity");
    const std::pair<pyobj::Name*, py::handle> items[] = {
        {&k_start_line, start_line}, {&k_start_column, start_column}, {&k_end_line, end_line},
        {&k_end_column, end_column}, {&k_message, message},           {&k_severity, severity},
    };
    py::dict result;
    for (const auto& [key, value] : items) {
        if (PyDict_SetItem(result.ptr(), key->get(), value.ptr()) < 0) pyobj::throw_error();
    }
    return result;
}

py::object add(py::handle a, py::handle b) { return pyobj::steal(PyNumber_Add(a.ptr(), b.ptr())); }

py::object or_else(py::handle value, py::handle fallback) {
    return py::reinterpret_borrow<py::object>(pyobj::truthy(value) ? value : fallback);
}

}  // namespace diagnostics
