// The word being typed: the identifier characters that end at the cursor. A native scan that
// gives what re.search("[a-zA-Z_][a-zA-Z0-9_]*$", prefix) gives on the text before the cursor.
#include "completion/cursor_line.h"
#include "completion/methods.h"
#include "pyobj/errors.h"

namespace completion {

namespace {

bool is_ascii_letter_or_underscore(Py_UCS4 c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(Py_UCS4 c) { return c >= '0' && c <= '9'; }

}  // namespace

py::object get_word_prefix(const CodePositionArgs& a) {
    py::handle code = a.code;
    Span span{};
    if (!text_before_cursor(code, a.line, a.column, span)) return py::str("");
    int kind = PyUnicode_KIND(code.ptr());
    const void* data = PyUnicode_DATA(code.ptr());
    // The run of word characters that ends at the cursor, then without its leading digits:
    // the leftmost place where the pattern can start and still reach the end.
    Py_ssize_t start = span.end;
    while (start > span.begin) {
        Py_UCS4 c = PyUnicode_READ(kind, data, start - 1);
        if (!is_ascii_letter_or_underscore(c) && !is_ascii_digit(c)) break;
        --start;
    }
    while (start < span.end && is_ascii_digit(PyUnicode_READ(kind, data, start))) ++start;
    return pyobj::steal(PyUnicode_Substring(code.ptr(), start, span.end));
}

}  // namespace completion
