// The __doc__ of the workspace methods after their signature line, which the boundary makes
// from the method's row: the summary, then Args/Returns. The row's parameters and these Args
// are held to agree when the method table compiles.
#pragma once

// The docstrings of get_completions, get_hover and get_signature_help, whose parameters are
// workspace::Request's: the summary, these Args, then the keys of the dict they return.
#define WORKSPACE_REQUEST_DOC(summary, keys)                                              \
    summary "\n\n"                                                                        \
    "Args:\n"                                                                             \
    "    code: The source code text.\n"                                                   \
    "    line: 1-based line number.\n"                                                    \
    "    column: 0-based column number.\n"                                                \
    "    path: Optional file path (used for context).\n"                                  \
    "    modules: Optional dictionary of module names to source code.\n"                  \
    "             If provided, these are synced to disk before completion.\n"             \
    "    dirty_files: Optional dictionary of module names to current editor content.\n"   \
    "                These override the corresponding entries in modules.\n"              \
    "    \n"                                                                              \
    "Returns:\n"                                                                          \
    "    Dict with:\n" keys

namespace workspace::doc {

inline constexpr const char* init = "Initialize the LSP Bridge with a temporary directory for module sync.";

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

inline constexpr const char* update_sys_paths =
    "Update LSP's sys.path for import resolution.\n\n"
    "Args:\n"
    "    new_paths: The kernel's import search paths (its sys.path entries).\n"
    "               The stubs and server package paths come first; duplicates are dropped.";

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

inline constexpr const char* set_workspace =
    "Set the workspace path for LSP operations.\n\n"
    "Deprecated: the path is only recorded; the jedi project is always rooted in the\n"
    "temporary directory used for module sync.\n\n"
    "Args:\n"
    "    workspace_path: Path to the workspace directory.";

}  // namespace workspace::doc
