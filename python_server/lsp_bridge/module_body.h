#pragma once

#include "pyobj/errors.h"

namespace lsp_bridge {

// Runs the module body into `module`'s dict: imports, optional imports, logger, constants and
// the class. Returns 0, or -1 with the error set.
int run_module_body(PyObject* module) noexcept;

}  // namespace lsp_bridge
