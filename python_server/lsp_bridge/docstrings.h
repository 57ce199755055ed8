// The __doc__ of each LSPBridge method: signature line, blank line, summary, then Args/Returns.
#pragma once

namespace lsp_bridge::doc {

extern const char* const init;
extern const char* const preload_corvane_module;
extern const char* const preload_corvane_module_async;
extern const char* const cleanup;
extern const char* const set_hover_mode;
extern const char* const update_sys_paths;
extern const char* const get_word_prefix;
extern const char* const format_signature;
extern const char* const format_compact_hover;
extern const char* const get_type_description;
extern const char* const is_module_name;
extern const char* const sync_modules;
extern const char* const delete_module;
extern const char* const get_completions;
extern const char* const set_workspace;
extern const char* const get_signature_help;
extern const char* const get_hover;
extern const char* const get_diagnostics;
extern const char* const run_pyflakes;
extern const char* const parse_pyflakes_message;
extern const char* const check_unresolved_imports;
extern const char* const can_resolve_import;

}  // namespace lsp_bridge::doc
