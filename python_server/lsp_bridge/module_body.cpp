#include "lsp_bridge/module_body.h"
#include "lsp_bridge/method_table.h"
#include "lsp_bridge/texts.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"

namespace lsp_bridge {

namespace {

class Body {
public:
    explicit Body(PyObject* globals) : globals_(globals) {}

    // A name the body has bound (or the module's own __name__), as the next statement reads it.
    py::object get(const char* name) {
        py::object value = pyobj::dict_get(globals_, py::str(name));
        if (!value) pyobj::raise(PyExc_NameError, name);
        return value;
    }

    void bind(const char* name, py::handle value) {
        pyobj::check(PyDict_SetItemString(globals_, name, value.ptr()));
    }

    // `import <dotted>`: returns the top-level package, as the statement binds it.
    py::object import_name(const char* dotted, int level = 0, py::handle fromlist = py::none()) {
        py::str name(dotted);
        return pyobj::steal(PyImport_ImportModuleLevelObject(name.ptr(), globals_, globals_, fromlist.ptr(), level));
    }

    // `from <module> import <name>`: the attribute, else the submodule already imported, else
    // ImportError, as the interpreter does it.
    py::object import_from(py::handle module, const char* name) {
        PyObject* value = PyObject_GetAttrString(module.ptr(), name);
        if (value) return py::reinterpret_steal<py::object>(value);
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) pyobj::throw_error();
        PyErr_Clear();
        py::object package = py::getattr(module, "__name__", py::none());
        if (PyUnicode_Check(package.ptr())) {
            py::str full = py::str("{}.{}").format(package, name);
            if (py::object found = pyobj::dict_get(PyImport_GetModuleDict(), full)) return found;
        }
        PyErr_Format(PyExc_ImportError, "cannot import name '%s' from %R (unknown location)", name, package.ptr());
        pyobj::throw_error();
    }

    // `from <module> import a, b, ...` binding each name in turn; `level` as in a relative import.
    void from_import(const char* module, std::initializer_list<const char*> names, int level = 0) {
        py::list fromlist;
        for (const char* n : names) fromlist.append(py::str(n));
        py::object mod = import_name(module, level, py::tuple(fromlist));
        for (const char* n : names) bind(n, import_from(mod, n));
    }

    // An optional block: ImportError (any subclass) ends it and records False; everything else
    // fails the import of this module.
    template <class Steps>
    void optional_block(const char* flag, Steps&& steps) {
        bool available = pyobj::except(
            PyExc_ImportError, [&] { steps(); return true; }, [](py::error_already_set&) { return false; });
        bind(flag, py::bool_(available));
    }

    // The module body, in the order the globals appear in the module dict (an order callers
    // see and tests hold fixed).
    void run() {
        // standard modules; `import importlib.util` binds the package with util loaded
        for (const char* name : {"ast", "importlib.util", "io", "logging", "os", "re", "sys", "tempfile", "threading"}) {
            py::object top = import_name(name);
            bind(std::string(name) == "importlib.util" ? "importlib" : name, top);
        }
        // typing names used in the annotations
        from_import("typing", {"Any", "Dict", "List", "Optional"});
        // jedi is required
        bind("jedi", import_name("jedi"));
        // pyflakes, optional
        optional_block("PYFLAKES_AVAILABLE", [&] {
            bind("pyflakes_api", import_from(import_name("pyflakes.api"), "api"));
            bind("pyflakes_reporter", import_from(import_name("pyflakes.reporter"), "reporter"));
        });
        // pylsp, optional
        optional_block("PYLSP_AVAILABLE", [&] {
            from_import("pylsp", {"uris"});
            from_import("pylsp.config.config", {"Config"});
            from_import("pylsp.workspace", {"Workspace", "Document"});
        });
        // the host's logging module, two packages up
        from_import("logging_config", {"setup_logging_subprocess", "get_logger"}, 2);
        bind("logger", get("get_logger")(get("__name__")));
        // shared tables
        py::dict kinds;
        for (auto& [key, value] : kJediToMonacoKind) kinds[key] = py::int_(value);
        bind("JEDI_TO_MONACO_KIND", kinds);
        bind("MONACO_MARKER_SEVERITY_ERROR", py::int_(8));
        bind("MONACO_MARKER_SEVERITY_WARNING", py::int_(4));
        bind("PYFLAKES_MESSAGE_PATTERN", get("re").attr("compile")(kPyflakesMessagePattern));
        bind("IMPORT_ALIAS_PATTERN", get("re").attr("compile")(kImportAliasPattern));
        // the class
        bind("LSPBridge", make_class(globals_));
    }

private:
    PyObject* globals_;
};

}  // namespace

int run_module_body(PyObject* module) noexcept {
    PyObject* globals = PyModule_GetDict(module);
    if (!globals) return -1;
    try {
        pyobj::GlobalsScope scope(globals);
        Body(globals).run();
        return 0;
    } catch (...) {
        pyobj::set_error_from_current_exception();
        return -1;
    }
}

}  // namespace lsp_bridge
