#include "completion/completion_item.h"
#include "completion/function_item.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"

namespace completion {

namespace {

// JEDI_TO_MONACO_KIND.get(type, 4)
py::object monaco_kind(py::handle type) {
    py::object table = pyobj::global(PYOBJ_NAME("JEDI_TO_MONACO_KIND"));
    if (PyDict_CheckExact(table.ptr())) {
        py::object kind = pyobj::dict_get(table, type);
        return kind ? kind : py::int_(4);
    }
    return table.attr(PYOBJ_NAME("get"))(type, 4);
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
    if (PyUnicode_CheckExact(text.ptr())) {
        return PyUnicode_GET_LENGTH(text.ptr()) > 0 && PyUnicode_READ_CHAR(text.ptr(), 0) == '_';
    }
    return pyobj::truthy(text.attr(PYOBJ_NAME("startswith"))("_"));
}

py::object completion_item(py::handle self, py::handle completion, bool show_underscores) {
    py::object name = completion.attr(PYOBJ_NAME("name"));
    if (!show_underscores && starts_with_underscore(name)) return py::object();
    return item_for_name(self, completion, name, nullptr);
}

py::object item_for_name(py::handle self, py::handle completion, py::handle name, ItemValues* record) {
    ItemValues scratch;
    ItemValues& values = record ? *record : scratch;
    // Read once: for an imported name jedi infers the type on every read.
    py::object type = completion.attr(PYOBJ_NAME("type"));
    values.type = type;
    py::dict item;
    item[label] = name;
    item[kind] = monaco_kind(type);
    item[insert_text] = name;
    auto failed = [&values] { values.failed = true; };
    if (is_function(type) && OneSignatureList::parts(completion, values.detail, values.documentation)) {
        if (values.detail) item[detail] = values.detail;
        if (pyobj::truthy(values.documentation)) {
            item[documentation] = values.documentation;
        } else {
            values.documentation = py::object();
        }
        return item;
    }
    if (is_function(type)) {
        unless_failing([&] {
            py::object signatures = completion.attr(PYOBJ_NAME("get_signatures"))();
            if (pyobj::truthy(signatures)) {
                values.detail = self.attr(PYOBJ_NAME("_format_signature"))(signatures[py::int_(0)]);
                item[detail] = values.detail;
            }
        }, failed);
    }
    unless_failing([&] {
        py::object docstring = completion.attr(PYOBJ_NAME("docstring"))();
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
