// The diagnostics methods of LSPBridge, each declared with its docstring after the signature
// line.
#pragma once

#include "boundary/args.h"

namespace diagnostics {

#define DIAGNOSTICS_CODE_MODULE_PARAMS(P) \
    P(self, Untyped, required, nullptr)   \
    P(code, Str, required, nullptr)       \
    P(module_name, Str, none, "Optional[str]")
BOUNDARY_ARGS(CodeModuleArgs, DIAGNOSTICS_CODE_MODULE_PARAMS);
#undef DIAGNOSTICS_CODE_MODULE_PARAMS

py::object get_diagnostics(const CodeModuleArgs& a);  // diagnostics.cpp
inline constexpr const char* get_diagnostics_doc =
    "Get diagnostics for the given code.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    module_name: Optional module name, used as the file name in messages.\n"
    "    \n"
    "Returns:\n"
    "    Dict with:\n"
    "        - diagnostics: List of markers in Monaco format, errors first\n"
    "        - error: Optional error message if the check failed";

py::object check_unresolved_imports(const CodeModuleArgs& a);  // import_check.cpp
inline constexpr const char* check_unresolved_imports_doc =
    "Check for unresolved import statements in the code.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    module_name: Optional module name (not used).\n"
    "    \n"
    "Returns:\n"
    "    List of Monaco diagnostics for imports that cannot be resolved.";

#define DIAGNOSTICS_PYFLAKES_PARAMS(P) \
    P(self, Untyped, required, nullptr) P(code, Str, required, nullptr) P(filename, Str, required, nullptr)
BOUNDARY_ARGS(PyflakesArgs, DIAGNOSTICS_PYFLAKES_PARAMS);
#undef DIAGNOSTICS_PYFLAKES_PARAMS

py::object run_pyflakes(const PyflakesArgs& a);  // pyflakes_runner.cpp
inline constexpr const char* run_pyflakes_doc =
    "Run pyflakes on the code and return diagnostics.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    filename: The file name pyflakes reports.\n"
    "    \n"
    "Returns:\n"
    "    List of Monaco diagnostics, warnings before errors.";

#define DIAGNOSTICS_MESSAGE_PARAMS(P) \
    P(self, Untyped, required, nullptr) P(message, Str, required, nullptr) P(severity, Int, required, nullptr)
BOUNDARY_ARGS(MessageArgs, DIAGNOSTICS_MESSAGE_PARAMS);
#undef DIAGNOSTICS_MESSAGE_PARAMS

py::object parse_pyflakes_message(const MessageArgs& a);  // pyflakes_runner.cpp
inline constexpr const char* parse_pyflakes_message_doc =
    "Parse a pyflakes message into Monaco diagnostic format.\n\n"
    "Args:\n"
    "    message: One line of pyflakes output.\n"
    "    severity: Monaco marker severity for the diagnostic.\n"
    "    \n"
    "Returns:\n"
    "    A Monaco diagnostic, or None if the line has no message shape.";

#define DIAGNOSTICS_MODULE_NAME_PARAMS(P) P(self, Untyped, required, nullptr) P(module_name, Str, required, nullptr)
BOUNDARY_ARGS(ModuleNameArgs, DIAGNOSTICS_MODULE_NAME_PARAMS);
#undef DIAGNOSTICS_MODULE_NAME_PARAMS

py::object can_resolve_import(const ModuleNameArgs& a);  // import_check.cpp
inline constexpr const char* can_resolve_import_doc =
    "Check if a module can be resolved by Python's import system.\n\n"
    "Args:\n"
    "    module_name: The module name to check (may be dotted).\n"
    "    \n"
    "Returns:\n"
    "    True if the module is loaded, synced, or findable.";

}  // namespace diagnostics
