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

// importlib.util.find_spec imports a dotted name's parent packages, and no stop may strike in an
// import (runtime/stop_rules.cpp): a package whose import takes seconds would hold the request that
// long. So a name whose parent is not loaded is first looked up level by level in the folders of
// the level above (what the parent's __path__ would be), running no package's code. A name found
// that way resolves; only the rest (not found, or a package that makes its __path__ or submodules
// at import) goes to find_spec, as before.
bool found_without_import(py::handle module_name) {
    py::object parts = module_name.attr(PYOBJ_NAME("split"))(py::str("."));
    py::ssize_t count = PyList_Size(parts.ptr());
    if (count < 2) return false;
    py::object loaded = global(PYOBJ_NAME("sys")).attr(PYOBJ_NAME("modules"));
    py::object parent = py::str(".").attr(PYOBJ_NAME("join"))(parts[py::slice(0, count - 1, 1)]);
    if (pyobj::contains(loaded, parent)) return false;  // find_spec imports nothing then
    py::object path_finder = py::module_::import("importlib.machinery").attr(PYOBJ_NAME("PathFinder"));
    py::object name = parts[py::int_(0)];
    // A top-level name is found without importing anything.
    py::object spec = global(PYOBJ_NAME("importlib")).attr(PYOBJ_NAME("util")).attr(PYOBJ_NAME("find_spec"))(name);
    for (py::ssize_t i = 1; i < count && !spec.is_none(); ++i) {
        py::object locations = spec.attr(PYOBJ_NAME("submodule_search_locations"));
        if (locations.is_none()) return false;
        name = pyobj::concat(name, ".", parts[py::int_(i)]);
        spec = path_finder.attr(PYOBJ_NAME("find_spec"))(name, py::list(locations));
    }
    return !spec.is_none();
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
            bool found = false;  // a lookup that fails leaves the name to find_spec
            pyobj::suppress(PyExc_Exception, [&] { found = found_without_import(module_name); });
            if (found) return true;
            py::object spec = global(PYOBJ_NAME("importlib")).attr(PYOBJ_NAME("util")).attr(PYOBJ_NAME("find_spec"))(module_name);
            return !spec.is_none();
        },
        [](py::error_already_set&) { return false; });
    return py::bool_(found);
}

}  // namespace diagnostics
