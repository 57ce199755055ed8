#include "lsp_bridge/docstrings.h"

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

#define REQUEST_SIGNATURE(name)                                                                       \
    "LSPBridge." name "(self, str code: str, int line: int, int column: int, str path: Optional[str] = " \
    "None, dict modules: Optional[Dict[str, str]] = None, dict dirty_files: Optional[Dict[str, str]] = " \
    "None) -> Dict[str, Any]\n\n"

const char* const init =
    "LSPBridge.__init__(self)\n\n"
    "Initialize the LSP Bridge with a temporary directory for module sync.";

const char* const preload_corvane_module =
    "LSPBridge.preload_corvane_module(self) -> None\n\n"
    "Preload the corvane module into Jedi's cache for faster first-time IntelliSense.\n\n"
    "Runs one completion of \"import corvane\\ncorvane.\" with the current project on the\n"
    "calling thread; a failure is logged as a warning and never raised.";

const char* const preload_corvane_module_async =
    "LSPBridge.preload_corvane_module_async(self) -> None\n\n"
    "Asynchronously preload the corvane module into Jedi's cache.\n\n"
    "Starts the daemon thread \"LSP-corvane-preload\" running preload_corvane_module\n"
    "and returns at once.";

const char* const cleanup =
    "LSPBridge.cleanup(self) -> None\n\n"
    "Clean up the temporary directory used for module sync.\n\n"
    "Safe to call more than once; later calls do nothing.";

const char* const set_hover_mode =
    "LSPBridge.set_hover_mode(self, str mode: str) -> None\n\n"
    "Set the hover mode for displaying type information.\n\n"
    "Args:\n"
    "    mode: Either \"compact\" or \"detailed\"";

const char* const update_sys_paths =
    "LSPBridge.update_sys_paths(self, list new_paths: List[str]) -> None\n\n"
    "Update LSP's sys.path for import resolution.\n\n"
    "Args:\n"
    "    new_paths: The kernel's import search paths (its sys.path entries).\n"
    "               The stubs and server package paths come first; duplicates are dropped.";

const char* const get_word_prefix =
    "LSPBridge._get_word_prefix(self, str code: str, int line: int, int column: int) -> str\n\n"
    "Extract the word being typed before the cursor position.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    line: 1-based line number.\n"
    "    column: 0-based column number.\n"
    "    \n"
    "Returns:\n"
    "    The identifier characters that end at the cursor, or an empty string.";

const char* const format_signature =
    "LSPBridge._format_signature(self, signature) -> str\n\n"
    "Format a Jedi signature object into a clean, human-readable string.\n\n"
    "Args:\n"
    "    signature: A Jedi signature object.\n"
    "    \n"
    "Returns:\n"
    "    A clean signature string like '(arg1: str, arg2: int) -> None'.";

const char* const format_compact_hover =
    "LSPBridge._format_compact_hover(self, definition) -> Optional[str]\n\n"
    "Format hover information in compact mode: (type) name: signature\n\n"
    "Args:\n"
    "    definition: A Jedi name object from Script.infer().\n"
    "    \n"
    "Returns:\n"
    "    A one-line markdown code block, or None if formatting fails.";

const char* const get_type_description =
    "LSPBridge._get_type_description(self, definition, str fallback_type: str) -> str\n\n"
    "Get a type description for a definition, with fallback.\n\n"
    "Args:\n"
    "    definition: A Jedi name object.\n"
    "    fallback_type: The type to use if description is not available\n"
    "    \n"
    "Returns:\n"
    "    The definition's description, or fallback_type.";

const char* const is_module_name =
    "LSPBridge._is_module_name(self, str path: str) -> bool\n\n"
    "Check if a path looks like a module name (not a file path).\n\n"
    "Args:\n"
    "    path: A file path or a module name.\n"
    "    \n"
    "Returns:\n"
    "    True if path is a plain identifier such as 'utils', False otherwise.";

const char* const sync_modules =
    "LSPBridge.sync_modules(self, dict modules: Dict[str, str], dict dirty_files: Optional[Dict[str, str]] = None) -> None\n\n"
    "Write in-memory modules to the temporary directory as .py files.\n\n"
    "Args:\n"
    "    modules: Dictionary of module names to source code (saved state).\n"
    "    dirty_files: Optional dictionary of module names to current editor content.\n"
    "                These override the corresponding entries in modules.";

const char* const delete_module =
    "LSPBridge.delete_module(self, str module_name: str)\n\n"
    "Delete a module file from the temporary directory.\n\n"
    "Args:\n"
    "    module_name: Name of the module (without .py).";

const char* const get_completions =
    REQUEST_SIGNATURE("get_completions")
    "Get code completions for the given position.\n\n"
    REQUEST_ARGS
    "Returns:\n"
    "    Dict with:\n"
    "        - completions: List of completion items in Monaco format\n"
    "        - error: Optional error message if completion failed";

const char* const set_workspace =
    "LSPBridge.set_workspace(self, str workspace_path: str)\n\n"
    "Set the workspace path for LSP operations.\n\n"
    "Deprecated: the path is only recorded; the jedi project is always rooted in the\n"
    "temporary directory used for module sync.\n\n"
    "Args:\n"
    "    workspace_path: Path to the workspace directory.";

const char* const get_signature_help =
    REQUEST_SIGNATURE("get_signature_help")
    "Get signature help for function calls at the given position.\n\n"
    REQUEST_ARGS
    "Returns:\n"
    "    Dict with:\n"
    "        - signatures: List of signature information in Monaco format\n"
    "        - activeSignature: Index of the active signature\n"
    "        - activeParameter: Index of the active parameter\n"
    "        - error: Optional error message if the request failed";

const char* const get_hover =
    REQUEST_SIGNATURE("get_hover")
    "Get hover information (type and docstring) for the symbol at the given position.\n\n"
    REQUEST_ARGS
    "Returns:\n"
    "    Dict with:\n"
    "        - contents: Markdown content ({\"kind\": \"markdown\", \"value\": ...}) or None\n"
    "        - error: Optional error message if the request failed";

const char* const get_diagnostics =
    "LSPBridge.get_diagnostics(self, str code: str, str module_name: Optional[str] = None) -> Dict[str, Any]\n\n"
    "Get diagnostics for the given code.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    module_name: Optional module name, used as the file name in messages.\n"
    "    \n"
    "Returns:\n"
    "    Dict with:\n"
    "        - diagnostics: List of markers in Monaco format, errors first\n"
    "        - error: Optional error message if the check failed";

const char* const run_pyflakes =
    "LSPBridge._run_pyflakes(self, str code: str, str filename: str) -> List[Dict[str, Any]]\n\n"
    "Run pyflakes on the code and return diagnostics.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    filename: The file name pyflakes reports.\n"
    "    \n"
    "Returns:\n"
    "    List of Monaco diagnostics, warnings before errors.";

const char* const parse_pyflakes_message =
    "LSPBridge._parse_pyflakes_message(self, str message: str, int severity: int) -> Optional[Dict[str, Any]]\n\n"
    "Parse a pyflakes message into Monaco diagnostic format.\n\n"
    "Args:\n"
    "    message: One line of pyflakes output.\n"
    "    severity: Monaco marker severity for the diagnostic.\n"
    "    \n"
    "Returns:\n"
    "    A Monaco diagnostic, or None if the line has no message shape.";

const char* const check_unresolved_imports =
    "LSPBridge._check_unresolved_imports(self, str code: str, str module_name: Optional[str] = None) -> List[Dict[str, Any]]\n\n"
    "Check for unresolved import statements in the code.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    module_name: Optional module name (not used).\n"
    "    \n"
    "Returns:\n"
    "    List of Monaco diagnostics for imports that cannot be resolved.";

const char* const can_resolve_import =
    "LSPBridge._can_resolve_import(self, str module_name: str) -> bool\n\n"
    "Check if a module can be resolved by Python's import system.\n\n"
    "Args:\n"
    "    module_name: The module name to check (may be dotted).\n"
    "    \n"
    "Returns:\n"
    "    True if the module is loaded, synced, or findable.";

}  // namespace lsp_bridge::doc
