#include "completion/function_item.h"

#include <cstdlib>

#include "item_cache/jedi_as_shipped.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"

namespace completion {

namespace {

using pyobj::attr;

OneSignatureList*& current() {
    thread_local OneSignatureList* scope = nullptr;
    return scope;
}

// text[text.find("("):] when there is one, else text: the formatter's cut of a full signature.
py::object cut_at_parenthesis(py::handle text) {
    Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
    Py_ssize_t at = PyUnicode_FindChar(text.ptr(), '(', 0, length, 1);
    if (at == -2) pyobj::throw_error();
    if (at < 0) return py::reinterpret_borrow<py::object>(text);
    return pyobj::steal(PyUnicode_Substring(text.ptr(), at, length));
}

bool is_str(py::handle value) { return PyUnicode_CheckExact(value.ptr()); }

// LSP_BRIDGE_PLAIN_SIGNATURES set to anything non-empty keeps every item on the plain calls: a
// switch for tests, which compare the two paths. Read at each request, as os.environ writes
// through to the C environment.
bool plain_calls_asked() {
    const char* value = std::getenv("LSP_BRIDGE_PLAIN_SIGNATURES");
    return value && *value;
}

}  // namespace

struct OneSignatureList::Types {
    py::object completion, import_name;
};

OneSignatureList::OneSignatureList(py::handle self) : outer_(current()) {
    current() = this;
    // Any failure here only means the plain calls for this request.
    pyobj::except_exception(
        [&] {
            if (plain_calls_asked() || !item_cache::bridge_is_own(self) || !item_cache::jedi_is_as_shipped()) return;
            auto* types = new Types;
            types->completion = attr(pyobj::import(PYOBJ_NAME("jedi.api.classes")), PYOBJ_NAME("Completion"));
            types->import_name = attr(pyobj::import(PYOBJ_NAME("jedi.inference.names")), PYOBJ_NAME("ImportName"));
            types_ = types;
        },
        [](py::error_already_set&) {});
}

OneSignatureList::~OneSignatureList() {
    current() = outer_;
    delete types_;
}

bool OneSignatureList::parts(py::handle completion, py::object& detail, py::object& documentation) {
    OneSignatureList* scope = current();
    if (!scope || !scope->types_) return false;
    const Types& types = *scope->types_;
    return pyobj::except_exception(
        [&] {
            if (Py_TYPE(completion.ptr()) != reinterpret_cast<PyTypeObject*>(types.completion.ptr())) return false;
            // jedi's per-module cache of a few big packages answers these from what it saw first.
            if (!attr(completion, PYOBJ_NAME("_cached_name")).is_none()) return false;
            py::object name = attr(completion, PYOBJ_NAME("_name"));
            // docstring() is empty for an import name while fewer than three characters are typed.
            if (pyobj::check(PyObject_IsInstance(name.ptr(), types.import_name.ptr())) &&
                pyobj::compare(attr(completion, PYOBJ_NAME("_like_name_length")), py::int_(3), Py_LT)) {
                return false;
            }
            // Where docstring() asks for other signatures than get_signatures(), or for none.
            py::object api_type = attr(name, PYOBJ_NAME("api_type"));
            if (!is_str(api_type) || pyobj::equals(api_type, PYOBJ_NAME("statement")) ||
                pyobj::equals(api_type, PYOBJ_NAME("property"))) {
                return false;
            }
            py::object signatures = pyobj::call_method(completion, PYOBJ_NAME("_get_signatures"));
            if (!PyList_CheckExact(signatures.ptr())) return false;
            py::list texts;
            for (py::handle signature : signatures) {
                py::object text = pyobj::call_method(signature, PYOBJ_NAME("to_string"));
                if (!is_str(text)) return false;
                texts.append(text);
            }
            py::object doc = pyobj::call_method(completion, PYOBJ_NAME("_get_docstring"));
            if (!is_str(doc)) return false;
            // docstring(): the signature texts, then a blank line and the raw docstring.
            py::object signature_text = pyobj::steal(PyUnicode_Join(py::str("\n").ptr(), texts.ptr()));
            bool both = PyUnicode_GET_LENGTH(signature_text.ptr()) > 0 && PyUnicode_GET_LENGTH(doc.ptr()) > 0;
            documentation = both ? pyobj::concat(signature_text, "\n\n", doc) : pyobj::concat(signature_text, doc);
            if (PyList_GET_SIZE(texts.ptr()) > 0) detail = cut_at_parenthesis(PyList_GET_ITEM(texts.ptr(), 0));
            return true;
        },
        [&](py::error_already_set&) {
            detail = py::object();
            documentation = py::object();
            return false;
        });
}

}  // namespace completion
