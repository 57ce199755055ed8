// The key that orders a request's markers by severity.
#pragma once

#include "pyobj/errors.h"

namespace diagnostics {

// A new `lambda d: d.get("severity", 0)` as a method object of the module, made for each
// request like the lambda a Python body would create; it reads the running method's globals.
py::object make_sort_key();

}  // namespace diagnostics
