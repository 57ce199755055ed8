// Attribute and type names the hover code reads from jedi's objects, made once per process.
#pragma once

#include "pyobj/pyobj.h"

namespace hover::names {

inline pyobj::Name name("name");
inline pyobj::Name full_name("full_name");
inline pyobj::Name type("type");
inline pyobj::Name description("description");
inline pyobj::Name function("function");
inline pyobj::Name class_("class");
inline pyobj::Name module("module");

}  // namespace hover::names

namespace hover {

// a == b, as Python's `==` tests it.
inline bool equals(py::handle a, pyobj::Name& b) {
    int r = PyObject_RichCompareBool(a.ptr(), b.get(), Py_EQ);
    if (r < 0) pyobj::throw_error();
    return r == 1;
}

}  // namespace hover
