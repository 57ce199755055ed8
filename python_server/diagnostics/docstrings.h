// The __doc__ of the diagnostics methods after their signature line (see workspace/docstrings.h).
#pragma once

namespace diagnostics::doc {

inline constexpr const char* get_diagnostics =
    "Get diagnostics for the given code.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    module_name: Optional module name, used as the file name in messages.\n"
    "    \n"
    "Returns:\n"
    "    Dict with:\n"
    "        - diagnostics: List of markers in Monaco format, errors first\n"
    "        - error: Optional error message if the check failed";

inline constexpr const char* run_pyflakes =
    "Run pyflakes on the code and return diagnostics.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    filename: The file name pyflakes reports.\n"
    "    \n"
    "Returns:\n"
    "    List of Monaco diagnostics, warnings before errors.";

inline constexpr const char* parse_pyflakes_message =
    "Parse a pyflakes message into Monaco diagnostic format.\n\n"
    "Args:\n"
    "    message: One line of pyflakes output.\n"
    "    severity: Monaco marker severity for the diagnostic.\n"
    "    \n"
    "Returns:\n"
    "    A Monaco diagnostic, or None if the line has no message shape.";

inline constexpr const char* check_unresolved_imports =
    "Check for unresolved import statements in the code.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    module_name: Optional module name (not used).\n"
    "    \n"
    "Returns:\n"
    "    List of Monaco diagnostics for imports that cannot be resolved.";

inline constexpr const char* can_resolve_import =
    "Check if a module can be resolved by Python's import system.\n\n"
    "Args:\n"
    "    module_name: The module name to check (may be dotted).\n"
    "    \n"
    "Returns:\n"
    "    True if the module is loaded, synced, or findable.";

}  // namespace diagnostics::doc
