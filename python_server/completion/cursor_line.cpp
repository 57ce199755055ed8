#include "completion/cursor_line.h"
#include "pyobj/errors.h"

namespace completion {

namespace {

// Out-of-range ints clamp, as they do when slicing.
Py_ssize_t clamped(py::handle number) {
    return pyobj::check_value(PyNumber_AsSsize_t(number.ptr(), nullptr), Py_ssize_t(-1));
}

// Start of the line after the one starting at `from`, or -1 when that line is the last.
template <class Char>
Py_ssize_t next_line_start(const Char* text, Py_ssize_t length, Py_ssize_t from) {
    for (Py_ssize_t i = from; i < length; ++i) {
        if (text[i] == '\n') return i + 1;
    }
    return -1;
}

template <class Char>
bool find_line(const Char* text, Py_ssize_t length, Py_ssize_t line, Span& span) {
    Py_ssize_t begin = 0;
    for (Py_ssize_t n = 1; n < line; ++n) {
        begin = next_line_start(text, length, begin);
        if (begin < 0) return false;
    }
    Py_ssize_t after = next_line_start(text, length, begin);
    span = {begin, after < 0 ? length : after - 1};
    return true;
}

}  // namespace

bool text_before_cursor(py::handle code, py::handle line, py::handle column, Span& span) {
    PyObject* text = code.ptr();
#if PY_VERSION_HEX < 0x030C0000
    pyobj::check(PyUnicode_READY(text));
#endif
    Py_ssize_t line_no = clamped(line);
    if (line_no < 1) return false;
    Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    void* data = PyUnicode_DATA(text);
    bool found = false;
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: found = find_line(static_cast<const Py_UCS1*>(data), length, line_no, span); break;
        case PyUnicode_2BYTE_KIND: found = find_line(static_cast<const Py_UCS2*>(data), length, line_no, span); break;
        default: found = find_line(static_cast<const Py_UCS4*>(data), length, line_no, span); break;
    }
    if (!found) return false;
    Py_ssize_t line_length = span.end - span.begin;
    Py_ssize_t cut = clamped(column);
    if (cut < 0) cut = cut + line_length < 0 ? 0 : cut + line_length;
    if (cut < line_length) span.end = span.begin + cut;
    return true;
}

}  // namespace completion
