// The module sync directory (sync.cpp): the paths of its module files, shared by the sync methods,
// the requests and the import check.
#pragma once

#include "pyobj/errors.h"

namespace workspace {

// os.path.join(self._temp_dir.name, stem + ".py"); raises AttributeError after cleanup.
py::object module_file_path(py::handle self, py::handle file_stem);

// The same path in the sync folder `temp_dir` (the bridge's _temp_dir, already read).
py::object module_file_in(py::handle temp_dir, py::handle file_stem);

// Logs "[LSP] Refusing unsafe module name" and returns true for a name that could lead out of
// the sync directory.
bool refuse_unsafe_name(py::handle name, py::handle file_stem);

}  // namespace workspace
