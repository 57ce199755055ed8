// pyflakes findings as markers: the checker writes one finding per line into two in-memory
// streams (warnings, errors), and each line is parsed back into a marker.
#include "diagnostics/marker.h"
#include "diagnostics/methods.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"

namespace diagnostics {

using pyobj::global;

namespace {

// Rewinds `stream` and appends the marker of every line that has the message shape.
void collect(py::handle self, py::handle stream, pyobj::Name& severity_name, py::list& diagnostics) {
    static pyobj::Name seek("seek"), strip("strip"), parse("_parse_pyflakes_message");
    stream.attr(seek)(0);
    for (py::handle line : stream) {
        py::object stripped = line.attr(strip)();
        py::object diagnostic = self.attr(parse)(stripped, global(severity_name));
        if (pyobj::truthy(diagnostic)) diagnostics.append(diagnostic);
    }
}

// The quoted name a message begins with ("'os' imported but unused"), or None.
py::object leading_quoted_name(py::handle msg) {
    static pyobj::Name re_name("re"), match_name("match"), group("group");
    py::object token_match = global(re_name).attr(match_name)("^'([^']+)'", msg);
    if (!pyobj::truthy(token_match)) return py::none();
    return token_match.attr(group)(1);
}

py::object parse_matched_line(py::handle message, py::handle severity) {
    static pyobj::Name pattern_name("PYFLAKES_MESSAGE_PATTERN"), match_name("match"), group("group");
    py::object match = global(pattern_name).attr(match_name)(message);
    if (!pyobj::truthy(match)) return py::none();
    py::object lineno = pyobj::steal(PyNumber_Long(match.attr(group)(2).ptr()));
    py::object column_digits = match.attr(group)(3);
    py::object colno = pyobj::truthy(column_digits) ? pyobj::steal(PyNumber_Long(column_digits.ptr()))
                                                     : py::object(py::int_(1));
    py::object msg = match.attr(group)(4);
    py::object end_col = pyobj::add(colno, py::int_(1));
    py::object name = leading_quoted_name(msg);
    if (!name.is_none()) end_col = pyobj::add(colno, py::int_(py::len(name)));
    return std::move(marker(lineno, colno, lineno, end_col, msg, severity));
}

}  // namespace

py::object run_pyflakes(const PyflakesArgs& a) {
    static pyobj::Name io_name("io"), string_io("StringIO"), reporter_module("pyflakes_reporter"),
        reporter_class("Reporter"), api_module("pyflakes_api"), check("check"),
        warning_severity("MONACO_MARKER_SEVERITY_WARNING"), error_severity("MONACO_MARKER_SEVERITY_ERROR");
    py::handle self = a.self, code = a.code, filename = a.filename;
    py::list diagnostics;
    pyobj::except_exception(
        [&] {
            py::object warning_stream = global(io_name).attr(string_io)();
            py::object error_stream = global(io_name).attr(string_io)();
            py::object reporter = global(reporter_module).attr(reporter_class)(warning_stream, error_stream);
            global(api_module).attr(check)(code, filename, reporter);
            collect(self, warning_stream, warning_severity, diagnostics);
            collect(self, error_stream, error_severity, diagnostics);
            pyobj::debug(PYOBJ_NAME("[LSP] Pyflakes returned %d diagnostics"), py::int_(diagnostics.size()));
        },
        [&](py::error_already_set& e) { pyobj::warning(PYOBJ_NAME("[LSP] Pyflakes check failed: %s"), e.value()); });
    return std::move(diagnostics);
}

py::object parse_pyflakes_message(const MessageArgs& a) {
    py::handle message = a.message, severity = a.severity;
    if (PyUnicode_GET_LENGTH(message.ptr()) == 0) return py::none();
    return pyobj::except_exception(
        [&] { return parse_matched_line(message, severity); },
        [&](py::error_already_set& e) -> py::object {
            pyobj::debug(PYOBJ_NAME("[LSP] Failed to parse pyflakes message '%s': %s"), message, e.value());
            return py::none();
        });
}

}  // namespace diagnostics
