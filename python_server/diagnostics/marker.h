// The Monaco marker that every diagnostics producer hands to the editor, and the small pieces
// of Python arithmetic the producers need to compute its coordinates.
#pragma once

#include "pyobj/pyobj.h"

namespace diagnostics {

// A new dict with exactly the six marker keys, in the order the editor's serialised form shows:
// startLineNumber, startColumn, endLineNumber, endColumn, message, severity.
py::dict marker(py::handle start_line, py::handle start_column, py::handle end_line, py::handle end_column,
                py::handle message, py::handle severity);

// a + b with Python's own rules (ints of any size, or whatever the operands define).
py::object add(py::handle a, py::handle b);

// `value if value else fallback`
py::object or_else(py::handle value, py::handle fallback);

}  // namespace diagnostics
