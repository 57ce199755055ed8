// Unresolved imports: every imported module name that neither the loaded modules, the module
// sync directory nor the import system can find becomes an error marker over its statement.
#include "diagnostics/marker.h"
#include "diagnostics/methods.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"

namespace diagnostics {

using pyobj::global;

namespace {

bool is_instance(py::handle node, pyobj::Name& ast_class) {
    static pyobj::Name ast_name("ast");
    py::object cls = global(ast_name).attr(ast_class);
    int r = PyObject_IsInstance(node.ptr(), cls.ptr());
    if (r < 0) pyobj::throw_error();
    return r == 1;
}

// The whole statement, 1-based, with an exclusive end column; the tree's offsets are 0-based.
py::dict unresolved_marker(py::handle node, py::handle module_to_check) {
    static pyobj::Name lineno_name("lineno"), col_name("col_offset"), end_lineno_name("end_lineno"),
        end_col_name("end_col_offset"), severity_name("MONACO_MARKER_SEVERITY_ERROR");
    py::object lineno = node.attr(lineno_name);
    py::object col_offset = node.attr(col_name);
    py::int_ one(1);
    return marker(lineno, pyobj::add(col_offset, one), pyobj::or_else(node.attr(end_lineno_name), lineno),
                  pyobj::add(pyobj::or_else(node.attr(end_col_name), col_offset), one),
                  pyobj::concat("import '", module_to_check, "' could not be resolved"), global(severity_name));
}

bool resolves(py::handle self, py::handle module_to_check) {
    static pyobj::Name can_resolve("_can_resolve_import");
    return pyobj::truthy(self.attr(can_resolve)(module_to_check));
}

void check_tree(py::handle self, py::handle code, py::list& diagnostics) {
    static pyobj::Name ast_name("ast"), parse("parse"), walk("walk"), import_class("Import"),
        import_from_class("ImportFrom"), names("names"), name("name"), module("module");
    py::object tree = global(ast_name).attr(parse)(code);
    for (py::handle node : global(ast_name).attr(walk)(tree)) {
        if (is_instance(node, import_class)) {
            for (py::handle alias : node.attr(names)) {
                py::object module_to_check = alias.attr(name);
                if (!resolves(self, module_to_check)) diagnostics.append(unresolved_marker(node, module_to_check));
            }
        } else if (is_instance(node, import_from_class)) {
            // A relative import without a module part ("from . import x") has nothing to check.
            py::object module_to_check = pyobj::or_else(node.attr(module), py::str(""));
            if (pyobj::truthy(module_to_check) && !resolves(self, module_to_check)) {
                diagnostics.append(unresolved_marker(node, module_to_check));
            }
        }
    }
    pyobj::debug(PYOBJ_NAME("[LSP] Import check found %d unresolved imports"), py::int_(diagnostics.size()));
}

}  // namespace

py::object check_unresolved_imports(const CodeModuleArgs& a) {
    py::handle self = a.self, code = a.code;
    py::list diagnostics;
    pyobj::except_exception(
        [&] {
            // A syntax error here (also one raised by a package that find_spec imported) is the
            // request's own syntax check's business: stop quietly with what was found.
            pyobj::suppress(PyExc_SyntaxError, [&] { check_tree(self, code, diagnostics); });
        },
        [&](py::error_already_set& e) { pyobj::warning(PYOBJ_NAME("[LSP] Import check failed: %s"), e.value()); });
    return std::move(diagnostics);
}

py::object can_resolve_import(const workspace::ModuleNameArgs& a) {
    static pyobj::Name sys_name("sys"), modules("modules"), temp_dir("_temp_dir"), name_attr("name"),
        os_name("os"), path("path"), join("join"), exists("exists"), importlib_name("importlib"), util("util"),
        find_spec("find_spec");
    py::handle self = a.self, module_name = a.module_name;
    py::object unresolved_types = py::make_tuple(py::handle(PyExc_ModuleNotFoundError), py::handle(PyExc_ImportError),
                                                 py::handle(PyExc_ValueError), py::handle(PyExc_AttributeError));
    bool found = pyobj::except(
        unresolved_types.ptr(),
        [&] {
            py::object loaded = global(sys_name).attr(modules);
            int in_loaded = PySequence_Contains(loaded.ptr(), module_name.ptr());
            if (in_loaded < 0) pyobj::throw_error();
            if (in_loaded) return true;
            // The user's synced modules resolve although their folder is not on sys.path.
            py::object directory = self.attr(temp_dir);
            if (!directory.is_none()) {
                py::object os_path = global(os_name).attr(path);
                py::object temp_module_path =
                    os_path.attr(join)(directory.attr(name_attr), pyobj::concat(module_name, ".py"));
                if (pyobj::truthy(global(os_name).attr(path).attr(exists)(temp_module_path))) return true;
            }
            py::object spec = global(importlib_name).attr(util).attr(find_spec)(module_name);
            return !spec.is_none();
        },
        [](py::error_already_set&) { return false; });
    return py::bool_(found);
}

}  // namespace diagnostics
