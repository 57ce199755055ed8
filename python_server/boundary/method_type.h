// The callable type of every method: binds through instances like a Python function, shows the
// function attributes, and calls through the binder (vectorcall, or the generic call).
#pragma once

#include "boundary/method_row.h"
#include "pyobj/errors.h"

namespace boundary {

// Ready the type once per process.
void ready_method_type();

// The __module__ of every method: the name the host imports the module by.
extern const char* const kModuleName;

// A new method object for `spec`, whose body reads its globals from `globals` (the module dict).
// Its __doc__ is the signature line made from the row, a blank line and `spec.doc`.
py::object make_method(const MethodSpec& spec, py::handle globals);

// Whether `obj` is a method object made by make_method for the row named `name`.
bool is_method_named(PyObject* obj, const char* name);

}  // namespace boundary
