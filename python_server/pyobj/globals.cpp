#include "pyobj/globals.h"
#include "pyobj/ops.h"

namespace pyobj {

namespace {
// initial-exec: one word of static TLS, read on every call without a __tls_get_addr call.
__attribute__((tls_model("initial-exec"))) thread_local PyObject* t_globals = nullptr;

py::object global_by_key(PyObject* key) {
    if (PyObject* globals = t_globals) {
        if (py::object v = dict_get(globals, key)) return v;
    }
    if (PyObject* builtins = PyEval_GetBuiltins()) {  // borrowed
        if (py::object v = dict_get(builtins, key)) return v;
    }
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
    throw_error();
}
}  // namespace

GlobalsScope::GlobalsScope(PyObject* globals) : previous_(t_globals) { t_globals = globals; }
GlobalsScope::~GlobalsScope() { t_globals = previous_; }
PyObject* current_globals() { return t_globals; }

py::object global(Name& name) { return global_by_key(name.get()); }

py::object import(Name& name) {
    if (PyObject* module = PyImport_GetModule(name.get())) return py::reinterpret_steal<py::object>(module);
    if (PyErr_Occurred()) throw_error();
    return steal(PyImport_Import(name.get()));
}

py::object attr(py::handle obj, Name& name) {
    if (PyModule_CheckExact(obj.ptr())) {
        if (py::object v = dict_get(PyModule_GetDict(obj.ptr()), name)) return v;
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

}  // namespace pyobj
