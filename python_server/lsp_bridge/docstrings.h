// The __doc__ of each LSPBridge method after its signature line, which the boundary makes from
// the method's row: the summary, then Args/Returns.
#pragma once

namespace lsp_bridge::doc {

#define REQUEST_ARGS                                                                      \
    "Args:\n"                                                                             \
    "    code: The source code text.\n"                                                   \
    "    line: 1-based line number.\n"                                                    \
    "    column: 0-based column number.\n"                                                \
    "    path: Optional file path (used for context).\n"                                  \
    "    modules: Optional dictionary of module names to source code.\n"                  \
    "             If provided, these are synced to disk before completion.\n"             \
    "    dirty_files: Optional dictionary of module names to current editor content.\n"   \
    "                These override the corresponding entries in modules.\n"              \
    "    \n"

inline constexpr const char* init =
    "Initialize the LSP Bridge with a temporary directory for module sync.";

inline constexpr const char* preload_corvane_module =
    "Preload the corvane module into Jedi's cache for faster first-time IntelliSense.\n\n"
    "Runs one completion of \"import corvane\\ncorvane.\" with the current project on the\n"
    "calling thread; a failure is logged as a warning and never raised.";

inline constexpr const char* preload_corvane_module_async =
    "Asynchronously preload the corvane module into Jedi's cache.\n\n"
    "Starts the daemon thread \"LSP-corvane-preload\" running preload_corvane_module\n"
    "and returns at once.";

inline constexpr const char* cleanup =
    "Clean up the temporary directory used for module sync.\n\n"
    "Safe to call more than once; later calls do nothing.";

inline constexpr const char* set_hover_mode =
    "Set the hover mode for displaying type information.\n\n"
    "Args:\n"
    "    mode: Either \"compact\" or \"detailed\"";

inline constexpr const char* update_sys_paths =
    "Update LSP's sys.path for import resolution.\n\n"
    "Args:\n"
    "    new_paths: The kernel's import search paths (its sys.path entries).\n"
    "               The stubs and server package paths come first; duplicates are dropped.";

inline constexpr const char* get_word_prefix =
    "Extract the word being typed before the cursor position.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    line: 1-based line number.\n"
    "    column: 0-based column number.\n"
    "    \n"
    "Returns:\n"
    "    The identifier characters that end at the cursor, or an empty string.";

inline constexpr const char* format_signature =
    "Format a Jedi signature object into a clean, human-readable string.\n\n"
    "Args:\n"
    "    signature: A Jedi signature object.\n"
    "    \n"
    "Returns:\n"
    "    A clean signature string like '(arg1: str, arg2: int) -> None'.";

inline constexpr const char* format_compact_hover =
    "Format hover information in compact mode: (type) name: signature\n\n"
    "Args:\n"
    "    definition: A Jedi name object from Script.infer().\n"
    "    \n"
    "Returns:\n"
    "    A one-line markdown code block, or None if formatting fails.";

inline constexpr const char* get_type_description =
    "Get a type description for a definition, with fallback.\n\n"
    "Args:\n"
    "    definition: A Jedi name object.\n"
    "    fallback_type: The type to use if description is not available\n"
    "    \n"
    "Returns:\n"
    "    The definition's description, or fallback_type.";

inline constexpr const char* is_module_name =
    "Check if a path looks like a module name (not a file path).\n\n"
    "Args:\n"
    "    path: A file path or a module name.\n"
    "    \n"
    "Returns:\n"
    "    True if path is a plain identifier such as 'utils', False otherwise.";

inline constexpr const char* sync_modules =
    "Write in-memory modules to the temporary directory as .py files.\n\n"
    "Args:\n"
    "    modules: Dictionary of module names to source code (saved state).\n"
    "    dirty_files: Optional dictionary of module names to current editor content.\n"
    "                These override the corresponding entries in modules.";

inline constexpr const char* delete_module =
    "Delete a module file from the temporary directory.\n\n"
    "Args:\n"
    "    module_name: Name of the module (without .py).";

inline constexpr const char* get_completions =
    "Get code completions for the given position.\n\n"
    REQUEST_ARGS
    "Returns:\n"
    "    Dict with:\n"
    "        - completions: List of completion items in Monaco format\n"
    "        - error: Optional error message if completion failed";

inline constexpr const char* set_workspace =
    "Set the workspace path for LSP operations.\n\n"
    "Deprecated: the path is only recorded; the jedi project is always rooted in the\n"
    "temporary directory used for module sync.\n\n"
    "Args:\n"
    "    workspace_path: Path to the workspace directory.";

inline constexpr const char* get_signature_help =
    "Get signature help for function calls at the given position.\n\n"
    REQUEST_ARGS
    "Returns:\n"
    "    Dict with:\n"
    "        - signatures: List of signature information in Monaco format\n"
    "        - activeSignature: Index of the active signature\n"
    "        - activeParameter: Index of the active parameter\n"
    "        - error: Optional error message if the request failed";

inline constexpr const char* get_hover =
    "Get hover information (type and docstring) for the symbol at the given position.\n\n"
    REQUEST_ARGS
    "Returns:\n"
    "    Dict with:\n"
    "        - contents: Markdown content ({\"kind\": \"markdown\", \"value\": ...}) or None\n"
    "        - error: Optional error message if the request failed";

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

}  // namespace lsp_bridge::doc

#undef REQUEST_ARGS
