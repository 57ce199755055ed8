#include "diagnostics/marker.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

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
        pyobj::set_item(result, *key, value);
    }
    return result;
}

}  // namespace diagnostics
