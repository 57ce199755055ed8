#include "lsp_bridge/texts.h"

namespace lsp_bridge {

// Its wording is kept as callers see it (help(), the host), even where it describes older internals.
const char* const kModuleDoc =
    "\nLSP Bridge - Language Server Protocol integration for Corvane.\n"
    "\n"
    "This module provides LSP-like functionality using python-lsp-server (pylsp)\n"
    "internals, specifically leveraging jedi_completion for autocompletion.\n"
    "\n"
    "The bridge wraps pylsp's internal plugins to provide:\n"
    "- Code completion with detailed logging\n"
    "- Signature help for function parameters\n"
    "- Diagnostics (syntax error checking via ast.parse and warnings via pyflakes)\n"
    "- Future extensibility for hover, definition, and other LSP features\n"
    "\n"
    "ARCHITECTURE:\n"
    "- Uses pylsp's jedi_completion plugin directly for robust completion\n"
    "- Logs all requests and responses for debugging ([LSP] prefix)\n"
    "- Maps results to Monaco Editor format\n"
    "- Uses jedi.Project for cross-module resolution when workspace is set\n"
    "- Filters underscore-prefixed completions unless explicitly triggered\n"
    "- Supports \"dirty files\" for cross-module sync (unsaved editor content)\n"
    "- Uses pyflakes for detecting undefined variables and other warnings\n";

const char* const kClassDoc =
    "\n    Bridge class for LSP-like functionality.\n"
    "    \n"
    "    Provides code completion and other language features using pylsp/jedi.\n"
    "    All interactions are logged with [LSP] prefix for debugging.\n"
    "    \n"
    "    Uses a \"Sync-to-Disk\" strategy to enable cross-module completion:\n"
    "    modules are written to a temporary directory so jedi can analyze them.\n"
    "    ";

const char* const kPyflakesMessagePattern = R"(^(.+?):(\d+)(?::(\d+))?:\s*(.+)$)";

const char* const kImportAliasPattern =
    R"(^\s*(import\s+[\w.]+\s+as(\s+\w*)?|from\s+[\w.]+\s+import\s+[\w.]+\s+as(\s+\w*)?)$)";

// Monaco completion-item kinds, by jedi's completion type.
const std::pair<const char*, int> kJediToMonacoKind[9] = {
    {"function", 1}, {"class", 5},     {"module", 7},  {"property", 8}, {"instance", 4},
    {"param", 4},    {"statement", 4}, {"keyword", 13}, {"path", 17},
};

}  // namespace lsp_bridge
