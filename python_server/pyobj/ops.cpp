#include "pyobj/ops.h"

namespace pyobj {

bool truthy(py::handle obj) { return check(PyObject_IsTrue(obj.ptr())) != 0; }

bool contains(py::handle container, py::handle item) {
    int found = PyUnicode_Check(container.ptr()) && PyUnicode_CheckExact(item.ptr())
                    ? PyUnicode_Contains(container.ptr(), item.ptr())
                    : PySequence_Contains(container.ptr(), item.ptr());
    return check(found) == 1;
}

bool compare(py::handle a, py::handle b, int op) {
    return check(PyObject_RichCompareBool(a.ptr(), b.ptr(), op)) == 1;
}

py::object add(py::handle a, py::handle b) { return steal(PyNumber_Add(a.ptr(), b.ptr())); }

py::object or_else(py::handle value, py::handle fallback) {
    return py::reinterpret_borrow<py::object>(truthy(value) ? value : fallback);
}

void set_item(py::handle dict, py::handle key, py::handle value) {
    check(PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()));
}

py::object dict_get(py::handle dict, py::handle key) {
    PyObject* value = PyDict_GetItemWithError(dict.ptr(), key.ptr());  // borrowed
    if (!value && PyErr_Occurred()) throw_error();
    return py::reinterpret_borrow<py::object>(value);
}

py::str format_value(py::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return py::reinterpret_borrow<py::str>(value);
    return py::reinterpret_steal<py::str>(check(PyObject_Format(value.ptr(), nullptr)));
}

void require_str_result(py::handle result, bool accept_subclasses) {
    PyObject* obj = result.ptr();
    if (obj == Py_None || PyUnicode_CheckExact(obj) || (accept_subclasses && PyUnicode_Check(obj))) return;
    PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "str", Py_TYPE(obj)->tp_name);
    throw_error();
}

std::string utf8(py::handle text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (!data) throw_error();
    return std::string(data, static_cast<size_t>(size));
}

}  // namespace pyobj
