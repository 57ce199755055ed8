// The workspace methods of LSPBridge: the bridge's life (its sync directory and jedi project),
// the warm-up, the jedi project's paths, and the module sync directory. Each body is declared
// with its docstring after the signature line.
#pragma once

#include "boundary/args.h"

namespace workspace {

#define WORKSPACE_SELF_PARAMS(P) P(self, Untyped, required, nullptr)
BOUNDARY_ARGS(SelfArgs, WORKSPACE_SELF_PARAMS);
#undef WORKSPACE_SELF_PARAMS

// lifecycle.cpp
py::object init(const SelfArgs& a);
inline constexpr const char* init_doc = "Initialize the LSP Bridge with a temporary directory for module sync.";

py::object cleanup(const SelfArgs& a);
inline constexpr const char* cleanup_doc =
    "Clean up the temporary directory used for module sync.\n\n"
    "Safe to call more than once; later calls do nothing.";

// warmup.cpp
py::object preload_corvane_module(const SelfArgs& a);
inline constexpr const char* preload_corvane_module_doc =
    "Preload the corvane module into Jedi's cache for faster first-time IntelliSense.\n\n"
    "Runs one completion of \"import corvane\\ncorvane.\" with the current project on the\n"
    "calling thread; a failure is logged as a warning and never raised.";

py::object preload_corvane_module_async(const SelfArgs& a);
inline constexpr const char* preload_corvane_module_async_doc =
    "Asynchronously preload the corvane module into Jedi's cache.\n\n"
    "Starts the daemon thread \"LSP-corvane-preload\" running preload_corvane_module\n"
    "and returns at once.";

#define WORKSPACE_NEW_PATHS_PARAMS(P) \
    P(self, Untyped, required, nullptr) P(new_paths, List, required, "List[str]")
BOUNDARY_ARGS(NewPathsArgs, WORKSPACE_NEW_PATHS_PARAMS);
#undef WORKSPACE_NEW_PATHS_PARAMS

py::object update_sys_paths(const NewPathsArgs& a);  // project.cpp
inline constexpr const char* update_sys_paths_doc =
    "Update LSP's sys.path for import resolution.\n\n"
    "Args:\n"
    "    new_paths: The kernel's import search paths (its sys.path entries).\n"
    "               The stubs and server package paths come first; duplicates are dropped.";

#define WORKSPACE_PATH_PARAMS(P) P(self, Untyped, required, nullptr) P(path, Str, required, nullptr)
BOUNDARY_ARGS(PathArgs, WORKSPACE_PATH_PARAMS);
#undef WORKSPACE_PATH_PARAMS

py::object is_module_name(const PathArgs& a);  // sync.cpp
inline constexpr const char* is_module_name_doc =
    "Check if a path looks like a module name (not a file path).\n\n"
    "Args:\n"
    "    path: A file path or a module name.\n"
    "    \n"
    "Returns:\n"
    "    True if path is a plain identifier such as 'utils', False otherwise.";

#define WORKSPACE_SYNC_PARAMS(P)                                 \
    P(self, Untyped, required, nullptr)                          \
    P(modules, Dict, required, "Dict[str, str]")                 \
    P(dirty_files, Dict, none, "Optional[Dict[str, str]]")
BOUNDARY_ARGS(SyncArgs, WORKSPACE_SYNC_PARAMS);
#undef WORKSPACE_SYNC_PARAMS

py::object sync_modules(const SyncArgs& a);  // sync.cpp
inline constexpr const char* sync_modules_doc =
    "Write in-memory modules to the temporary directory as .py files.\n\n"
    "Args:\n"
    "    modules: Dictionary of module names to source code (saved state).\n"
    "    dirty_files: Optional dictionary of module names to current editor content.\n"
    "                These override the corresponding entries in modules.";

#define WORKSPACE_MODULE_NAME_PARAMS(P) P(self, Untyped, required, nullptr) P(module_name, Str, required, nullptr)
BOUNDARY_ARGS(ModuleNameArgs, WORKSPACE_MODULE_NAME_PARAMS);
#undef WORKSPACE_MODULE_NAME_PARAMS

py::object delete_module(const ModuleNameArgs& a);  // sync.cpp
inline constexpr const char* delete_module_doc =
    "Delete a module file from the temporary directory.\n\n"
    "Args:\n"
    "    module_name: Name of the module (without .py).";

#define WORKSPACE_WORKSPACE_PATH_PARAMS(P) \
    P(self, Untyped, required, nullptr) P(workspace_path, Str, required, nullptr)
BOUNDARY_ARGS(WorkspacePathArgs, WORKSPACE_WORKSPACE_PATH_PARAMS);
#undef WORKSPACE_WORKSPACE_PATH_PARAMS

py::object set_workspace(const WorkspacePathArgs& a);  // project.cpp
inline constexpr const char* set_workspace_doc =
    "Set the workspace path for LSP operations.\n\n"
    "Deprecated: the path is only recorded; the jedi project is always rooted in the\n"
    "temporary directory used for module sync.\n\n"
    "Args:\n"
    "    workspace_path: Path to the workspace directory.";

}  // namespace workspace
