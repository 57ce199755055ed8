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

// The item's keys, in the order the editor receives them.
pyobj::Name label("label"), kind("kind"), insert_text("insertText"), detail("detail"), documentation("documentation");

bool is_function(py::handle type) { return pyobj::equals(type, PYOBJ_NAME("function")); }

// The optional details cost the item only themselves when jedi fails on them; `failed` hears of it.
template <class Body, class Failed>
void unless_failing(Body&& body, Failed&& failed) {
    pyobj::except_exception(std::forward<Body>(body), [&](py::error_already_set&) { failed(); });
}

}  // namespace

bool starts_with_underscore(py::handle text) {
    static pyobj::Name startswith("startswith");
    if (PyUnicode_CheckExact(text.ptr())) {
        return PyUnicode_GET_LENGTH(text.ptr()) > 0 && PyUnicode_READ_CHAR(text.ptr(), 0) == '_';
    }
    return pyobj::truthy(text.attr(startswith)("_"));
}

py::object completion_item(py::handle self, py::handle completion, bool show_underscores) {
    static pyobj::Name name_attr("name");
    py::object name = completion.attr(name_attr);
    if (!show_underscores && starts_with_underscore(name)) return py::object();
    return item_for_name(self, completion, name, nullptr);
}

py::object item_for_name(py::handle self, py::handle completion, py::handle name, ItemValues* record) {
    static pyobj::Name type_attr("type"), get_signatures("get_signatures"), format_signature("_format_signature"),
        docstring_attr("docstring");
    ItemValues scratch;
    ItemValues& values = record ? *record : scratch;
    // Read once: for an imported name jedi infers the type on every read.
    py::object type = completion.attr(type_attr);
    values.type = type;
    py::dict item;
    item[label] = name;
    item[kind] = monaco_kind(type);
    item[insert_text] = name;
    auto failed = [&values] { values.failed = true; };
    if (is_function(type)) {
        unless_failing([&] {
            py::object signatures = completion.attr(get_signatures)();
            if (pyobj::truthy(signatures)) {
                values.detail = self.attr(format_signature)(signatures[py::int_(0)]);
                item[detail] = values.detail;
            }
        }, failed);
    }
    unless_failing([&] {
        py::object docstring = completion.attr(docstring_attr)();
        if (pyobj::truthy(docstring)) {
            values.documentation = docstring;
            item[documentation] = docstring;
        }
    }, failed);
    return item;
}

py::object item_from_values(py::handle name, const ItemValues& values) {
    py::dict item;
    item[label] = name;
    item[kind] = monaco_kind(values.type);
    item[insert_text] = name;
    if (values.detail) item[detail] = values.detail;
    if (values.documentation) item[documentation] = values.documentation;
    return item;
}

}  // namespace completion
