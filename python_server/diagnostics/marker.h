// The Monaco marker that every diagnostics producer hands to the editor.
#pragma once

#include "pyobj/errors.h"

namespace diagnostics {

// A new dict with exactly the six marker keys, in the order the editor's serialised form shows:
// startLineNumber, startColumn, endLineNumber, endColumn, message, severity.
py::dict marker(py::handle start_line, py::handle start_column, py::handle end_line, py::handle end_column,
                py::handle message, py::handle severity);

}  // namespace diagnostics
