// Construction and clean-up of the bridge object: the sync directory and the jedi project rooted
// in it are made by __init__ and the directory is removed by cleanup.
#include "pyobj/log.h"
#include "pyobj/ops.h"
#include "workspace/methods.h"

namespace workspace {

using pyobj::global;

py::object init(const SelfArgs& a) {
    py::handle self = a.self;
    py::object os_path = global(PYOBJ_NAME("os")).attr("path");
    py::setattr(self, "_workspace_path", py::none());
    py::setattr(self, "_temp_dir", global(PYOBJ_NAME("tempfile")).attr("TemporaryDirectory")());
    py::setattr(self, "_python_server_path", os_path.attr("dirname")(os_path.attr("abspath")(global(PYOBJ_NAME("__file__")))));
    py::setattr(self, "_stubs_path", os_path.attr("join")(self.attr("_python_server_path"), "stubs"));
    py::list added_sys_path;
    added_sys_path.append(self.attr("_stubs_path"));
    py::setattr(self, "_jedi_project",
                global(PYOBJ_NAME("jedi")).attr("Project")(py::arg("path") = self.attr("_temp_dir").attr("name"),
                                                py::arg("added_sys_path") = added_sys_path));
    py::setattr(self, "_hover_mode", py::str("compact"));
    pyobj::info(PYOBJ_NAME("[LSP] LSPBridge initialized (pylsp_available=%s, pyflakes_available=%s, temp_dir=%s, "
                           "python_server=%s, stubs=%s)"),
        global(PYOBJ_NAME("PYLSP_AVAILABLE")), global(PYOBJ_NAME("PYFLAKES_AVAILABLE")), self.attr("_temp_dir").attr("name"),
        self.attr("_python_server_path"), self.attr("_stubs_path"));
    self.attr("preload_corvane_module_async")();
    return py::none();
}

py::object cleanup(const SelfArgs& a) {
    py::handle self = a.self;
    if (self.attr("_temp_dir").is_none()) return py::none();
    try {
        pyobj::except_exception(
            [&] {
                self.attr("_temp_dir").attr("cleanup")();
                pyobj::info(PYOBJ_NAME("[LSP] Cleaned up temporary directory"));
            },
            [](py::error_already_set& e) { pyobj::warning(PYOBJ_NAME("[LSP] Failed to cleanup temporary directory: %s"), e.value()); });
    } catch (...) {
        // The directory object is dropped whatever happened; the original failure still escapes.
        if (PyObject_SetAttrString(self.ptr(), "_temp_dir", Py_None) < 0) PyErr_Clear();
        throw;
    }
    py::setattr(self, "_temp_dir", py::none());
    return py::none();
}

}  // namespace workspace
