// The callable type of every method: binds through instances like a Python function, shows the
// function attributes, and calls through the binder (vectorcall, or the generic call).
#pragma once

#include "boundary/method_row.h"

namespace boundary {

// Ready the type once per process.
void ready_method_type();

// A new method object for `spec`, whose body reads its globals from `globals` (the module dict)
// and whose __module__ is `module_name`.
py::object make_method(const MethodSpec& spec, py::handle globals, py::handle module_name);

// Whether `obj` is a method object made by make_method whose body is `body`.
bool is_method_with_body(PyObject* obj, Body body);

}  // namespace boundary
