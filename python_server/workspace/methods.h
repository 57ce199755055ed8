// The workspace methods of LSPBridge: the bridge's life (its sync directory and jedi project),
// the warm-up, the jedi project's paths, and the module sync directory.
#pragma once

#include "boundary/args.h"

namespace workspace {

#define WORKSPACE_SELF_PARAMS(P) P(self, Untyped, required, nullptr)
BOUNDARY_ARGS(SelfArgs, WORKSPACE_SELF_PARAMS);
#undef WORKSPACE_SELF_PARAMS

#define WORKSPACE_NEW_PATHS_PARAMS(P) \
    P(self, Untyped, required, nullptr) P(new_paths, List, required, "List[str]")
BOUNDARY_ARGS(NewPathsArgs, WORKSPACE_NEW_PATHS_PARAMS);
#undef WORKSPACE_NEW_PATHS_PARAMS

#define WORKSPACE_PATH_PARAMS(P) P(self, Untyped, required, nullptr) P(path, Str, required, nullptr)
BOUNDARY_ARGS(PathArgs, WORKSPACE_PATH_PARAMS);
#undef WORKSPACE_PATH_PARAMS

#define WORKSPACE_SYNC_PARAMS(P)                                 \
    P(self, Untyped, required, nullptr)                          \
    P(modules, Dict, required, "Dict[str, str]")                 \
    P(dirty_files, Dict, none, "Optional[Dict[str, str]]")
BOUNDARY_ARGS(SyncArgs, WORKSPACE_SYNC_PARAMS);
#undef WORKSPACE_SYNC_PARAMS

#define WORKSPACE_MODULE_NAME_PARAMS(P) P(self, Untyped, required, nullptr) P(module_name, Str, required, nullptr)
BOUNDARY_ARGS(ModuleNameArgs, WORKSPACE_MODULE_NAME_PARAMS);
#undef WORKSPACE_MODULE_NAME_PARAMS

#define WORKSPACE_WORKSPACE_PATH_PARAMS(P) \
    P(self, Untyped, required, nullptr) P(workspace_path, Str, required, nullptr)
BOUNDARY_ARGS(WorkspacePathArgs, WORKSPACE_WORKSPACE_PATH_PARAMS);
#undef WORKSPACE_WORKSPACE_PATH_PARAMS

// lifecycle.cpp
py::object init(const SelfArgs& a);
py::object cleanup(const SelfArgs& a);

// warmup.cpp
py::object preload_corvane_module(const SelfArgs& a);
py::object preload_corvane_module_async(const SelfArgs& a);

// project.cpp
py::object update_sys_paths(const NewPathsArgs& a);
py::object set_workspace(const WorkspacePathArgs& a);

// sync.cpp
py::object is_module_name(const PathArgs& a);
py::object sync_modules(const SyncArgs& a);
py::object delete_module(const ModuleNameArgs& a);

}  // namespace workspace
