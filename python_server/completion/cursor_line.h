// The text of the cursor's line before the cursor, found without splitting the whole code.
#pragma once

#include "pyobj/errors.h"

namespace completion {

// Where code.split("\n")[line - 1][:column] lies in `code`: [begin, end) in code points.
struct Span {
    Py_ssize_t begin, end;
};

// False when `line` is outside 1..len(code.split("\n")); else `span` is the line cut at
// `column` by str slicing rules (negative and oversized columns included). Only "\n" ends a
// line: a "\r" stays part of its line. `code` is a str; `line` and `column` are ints.
bool text_before_cursor(py::handle code, py::handle line, py::handle column, Span& span);

}  // namespace completion
