// Paths of module files in the sync directory, shared by the sync methods and the requests.
#pragma once

#include "pyobj/errors.h"

namespace workspace {

// os.path.join(self._temp_dir.name, stem + ".py"); raises AttributeError after cleanup.
py::object module_file_path(py::handle self, py::handle file_stem);

// Logs "[LSP] Refusing unsafe module name" and returns true for a name that could lead out of
// the sync directory.
bool refuse_unsafe_name(py::handle name, py::handle file_stem);

}  // namespace workspace
