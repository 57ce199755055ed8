#include "completion/completion_item.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"

namespace completion {

namespace {

// JEDI_TO_MONACO_KIND.get(type, 4)
py::object monaco_kind(py::handle type) {
    static pyobj::Name table_name("JEDI_TO_MONACO_KIND"), get("get");
    py::object table = pyobj::global(table_name);
    if (PyDict_CheckExact(table.ptr())) {
        PyObject* kind = PyDict_GetItemWithError(table.ptr(), type.ptr());
        if (kind) return py::reinterpret_borrow<py::object>(kind);
        if (PyErr_Occurred()) pyobj::throw_error();
        return py::int_(4);
    }
    return table.attr(get)(type, 4);
}

bool is_function(py::handle type) { return pyobj::equals(type, PYOBJ_NAME("function")); }

}  // namespace

bool starts_with_underscore(py::handle text) {
    static pyobj::Name startswith("startswith");
    if (PyUnicode_CheckExact(text.ptr())) {
        return PyUnicode_GET_LENGTH(text.ptr()) > 0 && PyUnicode_READ_CHAR(text.ptr(), 0) == '_';
    }
    return pyobj::truthy(text.attr(startswith)("_"));
}

py::object completion_item(py::handle self, py::handle completion, bool show_underscores) {
    static pyobj::Name name_attr("name"), type_attr("type"), get_signatures("get_signatures"),
        format_signature("_format_signature"), docstring_attr("docstring");
    static pyobj::Name label("label"), kind("kind"), insert_text("insertText"), detail("detail"),
        documentation("documentation");

    py::object name = completion.attr(name_attr);
    if (!show_underscores && starts_with_underscore(name)) return py::object();
    // Read once: for an imported name jedi infers the type on every read.
    py::object type = completion.attr(type_attr);
    py::dict item;
    item[label] = name;
    item[kind] = monaco_kind(type);
    item[insert_text] = name;
    if (is_function(type)) {
        // The optional details cost the item only themselves when jedi fails on them.
        pyobj::suppress(PyExc_Exception, [&] {
            py::object signatures = completion.attr(get_signatures)();
            if (pyobj::truthy(signatures)) item[detail] = self.attr(format_signature)(signatures[py::int_(0)]);
        });
    }
    pyobj::suppress(PyExc_Exception, [&] {
        py::object docstring = completion.attr(docstring_attr)();
        if (pyobj::truthy(docstring)) item[documentation] = docstring;
    });
    return item;
}

}  // namespace completion
