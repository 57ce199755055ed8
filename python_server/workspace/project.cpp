// The jedi project: rooted in the sync directory, searching the stubs, the server package and
// the kernel's paths. Replaced whole, never changed in place.
#include "workspace/methods.h"
#include "workspace/search_generation.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"

namespace workspace {

using pyobj::global;

py::object update_sys_paths(const NewPathsArgs& a) {
    py::handle self = a.self;
    py::handle new_paths = a.new_paths;
    pyobj::except_exception(
        [&] {
            py::list added_paths;
            added_paths.append(self.attr("_stubs_path"));
            added_paths.append(self.attr("_python_server_path"));
            for (py::handle p : new_paths) {
                if (!pyobj::contains(added_paths, p)) added_paths.append(p);
            }
            py::object temp_dir = self.attr("_temp_dir");
            py::object root = pyobj::truthy(temp_dir) ? py::object(temp_dir.attr("name")) : py::object(py::none());
            py::setattr(self, "_jedi_project",
                        global(PYOBJ_NAME("jedi")).attr("Project")(py::arg("path") = root, py::arg("added_sys_path") = added_paths));
            pyobj::info(PYOBJ_NAME("[LSP] Updated jedi project with %d total paths (%d package paths, stubs path: %s)"),
                        py::len(added_paths), py::len(new_paths), self.attr("_stubs_path"));
        },
        [](py::error_already_set& e) {
            pyobj::error(PYOBJ_NAME("[LSP] Failed to update sys paths: %s"), e.value(), py::arg("exc_info") = true);
        });
    // After the project is replaced: a request that began with the old one keeps nothing.
    new_search_generation();
    return py::none();
}

py::object set_workspace(const WorkspacePathArgs& a) {
    new_search_generation();
    py::setattr(a.self, "_workspace_path", a.workspace_path);
    pyobj::info(PYOBJ_NAME("[LSP] Workspace path recorded: %s (using temp_dir for jedi.Project)"), a.workspace_path);
    return py::none();
}

}  // namespace workspace
