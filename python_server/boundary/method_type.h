// The callable type of every method: binds through instances like a Python function, shows the
// function attributes, and calls through the binder (vectorcall, or the generic call).
#pragma once

#include "boundary/method_row.h"
#include "pyobj/errors.h"

namespace boundary {

// Readies the type, named and documented by the module that shows it; once per process, with
// texts that live as long (literals). Before any make_method.
void ready_method_type(const char* tp_name, const char* tp_doc);

// A new method object for `spec`, whose body reads its globals from `globals` (the module dict).
// As for a Python function, its __module__ is the globals' __name__ (None without one). Its
// __doc__ is the signature line made from the row, a blank line and `spec.doc`.
py::object make_method(const MethodSpec& spec, py::handle globals);

// Whether `obj` is a method object made by make_method for the row named `name`.
bool is_method_named(PyObject* obj, const char* name);

}  // namespace boundary
