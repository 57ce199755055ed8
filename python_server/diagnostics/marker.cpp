#include "diagnostics/marker.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace diagnostics {

py::dict marker(py::handle start_line, py::handle start_column, py::handle end_line, py::handle end_column,
                py::handle message, py::handle severity) {
    const std::pair<pyobj::Name*, py::handle> items[] = {
        {&PYOBJ_NAME("startLineNumber"), start_line}, {&PYOBJ_NAME("startColumn"), start_column},
        {&PYOBJ_NAME("endLineNumber"), end_line},     {&PYOBJ_NAME("endColumn"), end_column},
        {&PYOBJ_NAME("message"), message},            {&PYOBJ_NAME("severity"), severity},
    };
    py::dict result;
    for (const auto& [key, value] : items) {
        pyobj::set_item(result, *key, value);
    }
    return result;
}

}  // namespace diagnostics
