// The diagnostics methods of LSPBridge.
#pragma once

#include "boundary/args.h"

namespace diagnostics {

#define DIAGNOSTICS_CODE_MODULE_PARAMS(P) \
    P(self, Untyped, required, nullptr)   \
    P(code, Str, required, nullptr)       \
    P(module_name, Str, none, "Optional[str]")
BOUNDARY_ARGS(CodeModuleArgs, DIAGNOSTICS_CODE_MODULE_PARAMS);
#undef DIAGNOSTICS_CODE_MODULE_PARAMS

#define DIAGNOSTICS_PYFLAKES_PARAMS(P) \
    P(self, Untyped, required, nullptr) P(code, Str, required, nullptr) P(filename, Str, required, nullptr)
BOUNDARY_ARGS(PyflakesArgs, DIAGNOSTICS_PYFLAKES_PARAMS);
#undef DIAGNOSTICS_PYFLAKES_PARAMS

#define DIAGNOSTICS_MESSAGE_PARAMS(P) \
    P(self, Untyped, required, nullptr) P(message, Str, required, nullptr) P(severity, Int, required, nullptr)
BOUNDARY_ARGS(MessageArgs, DIAGNOSTICS_MESSAGE_PARAMS);
#undef DIAGNOSTICS_MESSAGE_PARAMS

#define DIAGNOSTICS_MODULE_NAME_PARAMS(P) P(self, Untyped, required, nullptr) P(module_name, Str, required, nullptr)
BOUNDARY_ARGS(ModuleNameArgs, DIAGNOSTICS_MODULE_NAME_PARAMS);
#undef DIAGNOSTICS_MODULE_NAME_PARAMS

py::object get_diagnostics(const CodeModuleArgs& a);           // diagnostics.cpp
py::object run_pyflakes(const PyflakesArgs& a);                // pyflakes_runner.cpp
py::object parse_pyflakes_message(const MessageArgs& a);       // pyflakes_runner.cpp
py::object check_unresolved_imports(const CodeModuleArgs& a);  // import_check.cpp
py::object can_resolve_import(const ModuleNameArgs& a);        // import_check.cpp

}  // namespace diagnostics
