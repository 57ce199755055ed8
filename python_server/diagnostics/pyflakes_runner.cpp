// pyflakes findings as markers: the checker writes one finding per line into two in-memory
// streams (warnings, errors), and each line is parsed back into a marker.
#include "diagnostics/marker.h"
#include "diagnostics/methods.h"
#include "diagnostics/parsed_text.h"
#include "pyobj/calls.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"

namespace diagnostics {

using pyobj::global;

namespace {

// Rewinds `stream` and appends the marker of every line that has the message shape.
void collect(py::handle self, py::handle stream, pyobj::Name& severity_name, py::list& diagnostics) {
    stream.attr(PYOBJ_NAME("seek"))(0);
    for (py::handle line : stream) {
        py::object stripped = line.attr(PYOBJ_NAME("strip"))();
        py::object diagnostic = self.attr(PYOBJ_NAME("_parse_pyflakes_message"))(stripped, global(severity_name));
        if (pyobj::truthy(diagnostic)) diagnostics.append(diagnostic);
    }
}

// The quoted name a message begins with ("'os' imported but unused"), or None.
py::object leading_quoted_name(py::handle msg) {
    py::object token_match = global(PYOBJ_NAME("re")).attr(PYOBJ_NAME("match"))("^'([^']+)'", msg);
    if (!pyobj::truthy(token_match)) return py::none();
    return token_match.attr(PYOBJ_NAME("group"))(1);
}

py::object parse_matched_line(py::handle message, py::handle severity) {
    py::object match = global(PYOBJ_NAME("PYFLAKES_MESSAGE_PATTERN")).attr(PYOBJ_NAME("match"))(message);
    if (!pyobj::truthy(match)) return py::none();
    py::object lineno = pyobj::steal(PyNumber_Long(match.attr(PYOBJ_NAME("group"))(2).ptr()));
    py::object column_digits = match.attr(PYOBJ_NAME("group"))(3);
    py::object colno = pyobj::truthy(column_digits) ? pyobj::steal(PyNumber_Long(column_digits.ptr()))
                                                     : py::object(py::int_(1));
    py::object msg = match.attr(PYOBJ_NAME("group"))(4);
    py::object end_col = pyobj::add(colno, py::int_(1));
    py::object name = leading_quoted_name(msg);
    if (!name.is_none()) end_col = pyobj::add(colno, py::int_(py::len(name)));
    return std::move(marker(lineno, colno, lineno, end_col, msg, severity));
}

// The `checker` module pyflakes' own check would walk the request's tree with, or a null object
// when `check` must be called as it is. pyflakes' own is known by what it is, not by where it is
// found: a plain function running the code compiled from pyflakes.api's file under the name
// `check`, with that module's globals (a copy of the function is still pyflakes' own). A host's
// replacement, wrapper or mock is not, and is called as it was before the request parsed its
// text once; so is pyflakes' own when the `ast` it parses with is not the one the request did.
py::object own_check_checker(py::handle check) {
    if (!PyFunction_Check(check.ptr())) return py::object();
    py::object api = pyobj::import(PYOBJ_NAME("pyflakes.api"));
    PyObject* globals = PyFunction_GET_GLOBALS(check.ptr());  // borrowed
    if (!PyModule_Check(api.ptr()) || globals != PyModule_GetDict(api.ptr())) return py::object();
    py::object file;
    if (!pyobj::get_attr_if_present(api, PYOBJ_NAME("__file__"), file)) return py::object();
    py::handle code(PyFunction_GET_CODE(check.ptr()));
    if (!pyobj::equals(pyobj::attr(code, PYOBJ_NAME("co_name")), PYOBJ_NAME("check").get()) ||
        !pyobj::equals(pyobj::attr(code, PYOBJ_NAME("co_filename")), file)) {
        return py::object();
    }
    py::object ast = pyobj::dict_get(globals, PYOBJ_NAME("ast"));
    if (!ast || ast.ptr() != global(PYOBJ_NAME("ast")).ptr()) return py::object();
    return pyobj::dict_get(globals, PYOBJ_NAME("checker"));
}

// pyflakes.api.check(code, filename, reporter) on the tree the request already parsed from `code`:
// what check does after its own parse, which would give this very tree.
void check_parsed(py::handle checker, py::handle tree, py::handle code, py::handle filename, py::handle reporter) {
    py::object make_tokens;
    py::object w;
    if (pyobj::get_attr_if_present(checker, PYOBJ_NAME("make_tokens"), make_tokens)) {
        // pyflakes before 3.0 reads type comments from the tokens.
        static pyobj::KeywordNames keywords{"file_tokens", "filename"};
        py::object tokens = pyobj::call(make_tokens, code);
        w = pyobj::call_kw(pyobj::attr(checker, PYOBJ_NAME("Checker")), keywords, tree, tokens, filename);
    } else {
        static pyobj::KeywordNames keywords{"filename"};
        w = pyobj::call_kw(pyobj::attr(checker, PYOBJ_NAME("Checker")), keywords, tree, filename);
    }
    py::object messages = pyobj::attr(w, PYOBJ_NAME("messages"));
    static pyobj::KeywordNames key{"key"};
    py::object by_line = pyobj::call(pyobj::attr(pyobj::import(PYOBJ_NAME("operator")), PYOBJ_NAME("attrgetter")),
                                     PYOBJ_NAME("lineno").get());
    pyobj::call_method_kw(messages, PYOBJ_NAME("sort"), &key, by_line);
    for (py::handle warning : messages) pyobj::call_method(reporter, PYOBJ_NAME("flake"), warning);
}

}  // namespace

py::object run_pyflakes(const PyflakesArgs& a) {
    py::handle self = a.self, code = a.code, filename = a.filename;
    py::list diagnostics;
    pyobj::except_exception(
        [&] {
            py::object warning_stream = global(PYOBJ_NAME("io")).attr(PYOBJ_NAME("StringIO"))();
            py::object error_stream = global(PYOBJ_NAME("io")).attr(PYOBJ_NAME("StringIO"))();
            py::object reporter_class = global(PYOBJ_NAME("pyflakes_reporter")).attr(PYOBJ_NAME("Reporter"));
            py::object reporter = reporter_class(warning_stream, error_stream);
            py::object check = global(PYOBJ_NAME("pyflakes_api")).attr(PYOBJ_NAME("check"));
            py::object tree = ParsedText::tree_of(code);
            py::object checker = tree ? own_check_checker(check) : py::object();
            if (checker) {
                check_parsed(checker, tree, code, filename, reporter);
            } else {
                pyobj::call(check, code, filename, reporter);
            }
            collect(self, warning_stream, PYOBJ_NAME("MONACO_MARKER_SEVERITY_WARNING"), diagnostics);
            collect(self, error_stream, PYOBJ_NAME("MONACO_MARKER_SEVERITY_ERROR"), diagnostics);
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
