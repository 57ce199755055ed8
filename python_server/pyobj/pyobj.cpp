#include "pyobj/pyobj.h"

#include <unordered_map>

namespace pyobj {

PyObject* Name::get() {
    if (!obj_) {
        obj_ = check(PyUnicode_InternFromString(text_));
    }
    return obj_;
}

PyObject* KeywordNames::get() {
    if (!obj_) {
        py::tuple names(size());
        Py_ssize_t i = 0;
        for (const char* text : names_) {
            PyObject* name = check(PyUnicode_InternFromString(text));
            PyTuple_SET_ITEM(names.ptr(), i++, name);
        }
        obj_ = names.release().ptr();
    }
    return obj_;
}

void throw_error() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "error return without exception set");
    }
    throw py::error_already_set();
}

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw_error();
}

void require_str_result(py::handle result, bool accept_subclasses) {
    PyObject* obj = result.ptr();
    if (obj == Py_None || PyUnicode_CheckExact(obj) || (accept_subclasses && PyUnicode_Check(obj))) return;
    PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "str", Py_TYPE(obj)->tp_name);
    throw_error();
}

namespace {
// initial-exec: one word of static TLS, read on every call without a __tls_get_addr call.
__attribute__((tls_model("initial-exec"))) thread_local PyObject* t_globals = nullptr;
}

GlobalsScope::GlobalsScope(PyObject* globals) : previous_(t_globals) { t_globals = globals; }
GlobalsScope::~GlobalsScope() { t_globals = previous_; }
PyObject* current_globals() { return t_globals; }

static py::object global_by_key(PyObject* key) {
    if (PyObject* globals = t_globals) {
        if (PyObject* v = PyDict_GetItemWithError(globals, key)) return py::reinterpret_borrow<py::object>(v);
        if (PyErr_Occurred()) throw_error();
    }
    PyObject* builtins = PyEval_GetBuiltins();  // borrowed
    if (builtins) {
        if (PyObject* v = PyDict_GetItemWithError(builtins, key)) return py::reinterpret_borrow<py::object>(v);
        if (PyErr_Occurred()) throw_error();
    }
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
    throw_error();
}

py::object global(Name& name) { return global_by_key(name.get()); }

py::object global(const char* name) {
    py::object key = steal(PyUnicode_FromString(name));
    return global_by_key(key.ptr());
}


py::object attr(py::handle obj, Name& name) {
    if (PyModule_CheckExact(obj.ptr())) {
        PyObject* dict = PyModule_GetDict(obj.ptr());
        if (PyObject* v = PyDict_GetItemWithError(dict, name.get())) return py::reinterpret_borrow<py::object>(v);
        if (PyErr_Occurred()) throw_error();
    }
    return steal(PyObject_GetAttr(obj.ptr(), name.get()));
}

bool get_attr_if_present(py::handle obj, Name& name, py::object& value) {
    PyObject* v = PyObject_GetAttr(obj.ptr(), name.get());
    if (v) {
        value = py::reinterpret_steal<py::object>(v);
        return true;
    }
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return false;
    }
    throw_error();
}

py::str format_value(py::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return py::reinterpret_borrow<py::str>(value);
    return py::reinterpret_steal<py::str>(check(PyObject_Format(value.ptr(), nullptr)));
}

py::str error_text(const py::error_already_set& e) {
    py::str text = py::reinterpret_steal<py::str>(check(PyObject_Str(e.value().ptr())));
    if (PyUnicode_GET_LENGTH(text.ptr()) > 0) return text;
    static Name name("__name__");
    py::object type_name = steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(e.value().ptr())), name.get()));
    return py::reinterpret_steal<py::str>(check(PyObject_Str(type_name.ptr())));
}

Handling::Handling(const py::error_already_set& e) {
    PyErr_GetExcInfo(&saved_[0], &saved_[1], &saved_[2]);
    PyErr_SetExcInfo(e.type().inc_ref().ptr(), e.value().inc_ref().ptr(), e.trace().inc_ref().ptr());
}

Handling::~Handling() { PyErr_SetExcInfo(saved_[0], saved_[1], saved_[2]); }

bool truthy(py::handle obj) {
    int r = PyObject_IsTrue(obj.ptr());
    if (r < 0) throw_error();
    return r != 0;
}

bool contains(py::handle container, py::handle item) {
    int found = PyUnicode_Check(container.ptr()) && PyUnicode_CheckExact(item.ptr())
                    ? PyUnicode_Contains(container.ptr(), item.ptr())
                    : PySequence_Contains(container.ptr(), item.ptr());
    if (found < 0) throw_error();
    return found == 1;
}

PyObject* literal(const char* text) {
    // Never released: the strs must outlive every static that refers to them.
    static auto* made = new std::unordered_map<const char*, PyObject*>();
    auto found = made->find(text);
    if (found != made->end()) return found->second;
    PyObject* str = check(PyUnicode_InternFromString(text));
    made->emplace(text, str);
    return str;
}

py::object logger() {
    static Name name("logger");
    return global(name);
}

}  // namespace pyobj
