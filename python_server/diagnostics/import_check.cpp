// Unresolved imports: every imported module name that neither the loaded modules, the module
// sync directory nor the import system can find becomes an error marker over its statement.
#include "diagnostics/marker.h"
#include "diagnostics/methods.h"
#include "diagnostics/parsed_text.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"
#include "workspace/sync.h"

namespace diagnostics {

using pyobj::global;

namespace {

bool is_instance(py::handle node, pyobj::Name& ast_class) {
    py::object cls = global(PYOBJ_NAME("ast")).attr(ast_class);
    return pyobj::check(PyObject_IsInstance(node.ptr(), cls.ptr())) == 1;
}

// The whole statement, 1-based, with an exclusive end column; the tree's offsets are 0-based.
py::dict unresolved_marker(py::handle node, py::handle module_to_check) {
    py::object lineno = node.attr(PYOBJ_NAME("lineno"));
    py::object col_offset = node.attr(PYOBJ_NAME("col_offset"));
    py::int_ one(1);
    return marker(lineno, pyobj::add(col_offset, one), pyobj::or_else(node.attr(PYOBJ_NAME("end_lineno")), lineno),
                  pyobj::add(pyobj::or_else(node.attr(PYOBJ_NAME("end_col_offset")), col_offset), one),
                  pyobj::concat("import '", module_to_check, "' could not be resolved"),
                  global(PYOBJ_NAME("MONACO_MARKER_SEVERITY_ERROR")));
}

bool resolves(py::handle self, py::handle module_to_check) {
    return pyobj::truthy(self.attr(PYOBJ_NAME("_can_resolve_import"))(module_to_check));
}

void check_tree(py::handle self, py::handle code, py::list& diagnostics) {
    py::object tree = ParsedText::tree_of(code);  // the request's own parse, when it made one
    if (!tree) tree = global(PYOBJ_NAME("ast")).attr(PYOBJ_NAME("parse"))(code);
    for (py::handle node : global(PYOBJ_NAME("ast")).attr(PYOBJ_NAME("walk"))(tree)) {
        if (is_instance(node, PYOBJ_NAME("Import"))) {
            for (py::handle alias : node.attr(PYOBJ_NAME("names"))) {
                py::object module_to_check = alias.attr(PYOBJ_NAME("name"));
                if (!resolves(self, module_to_check)) diagnostics.append(unresolved_marker(node, module_to_check));
            }
        } else if (is_instance(node, PYOBJ_NAME("ImportFrom"))) {
            // A relative import without a module part ("from . import x") has nothing to check.
            py::object module_to_check = pyobj::or_else(node.attr(PYOBJ_NAME("module")), py::str(""));
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
    py::handle self = a.self, module_name = a.module_name;
    py::object unresolved_types = py::make_tuple(py::handle(PyExc_ModuleNotFoundError), py::handle(PyExc_ImportError),
                                                 py::handle(PyExc_ValueError), py::handle(PyExc_AttributeError));
    bool found = pyobj::except(
        unresolved_types.ptr(),
        [&] {
            py::object loaded = global(PYOBJ_NAME("sys")).attr(PYOBJ_NAME("modules"));
            if (pyobj::contains(loaded, module_name)) return true;
            // The user's synced modules resolve although their folder is not on sys.path.
            py::object directory = self.attr(PYOBJ_NAME("_temp_dir"));
            if (!directory.is_none()) {
                py::object temp_module_path = workspace::module_file_in(directory, module_name);
                if (pyobj::truthy(global(PYOBJ_NAME("os")).attr(PYOBJ_NAME("path")).attr(PYOBJ_NAME("exists"))(temp_module_path))) return true;
            }
            py::object spec = global(PYOBJ_NAME("importlib")).attr(PYOBJ_NAME("util")).attr(PYOBJ_NAME("find_spec"))(module_name);
            return !spec.is_none();
        },
        [](py::error_already_set&) { return false; });
    return py::bool_(found);
}

}  // namespace diagnostics
