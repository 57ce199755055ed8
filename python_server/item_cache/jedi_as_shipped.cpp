// The check that jedi and parso run as shipped, and that the bridge runs its own item path.
#include "item_cache/jedi_as_shipped.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "boundary/method_type.h"
#include "item_cache/library_files.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache {

namespace {

bool starts_with(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// A module name of jedi's or parso's.
bool is_ours(py::handle name) {
    if (!PyUnicode_Check(name.ptr())) return false;
    const char* text = PyUnicode_AsUTF8(name.ptr());
    if (!text) pyobj::throw_error();
    for (const char* package : {"jedi", "parso"}) {
        size_t n = std::strlen(package);
        if (std::strncmp(text, package, n) == 0 && (text[n] == '\0' || text[n] == '.')) return true;
    }
    return false;
}

py::object module_of(py::handle obj) {
    py::object name;
    return pyobj::get_attr_if_present(obj, PYOBJ_NAME("__module__"), name) ? name : py::object(py::none());
}

class Checker {
public:
    Checker() {
        auto folder = [](const char* package) {
            py::module_ os_path = py::module_::import("os.path");
            return normalised_path(os_path.attr("dirname")(py::module_::import(package).attr("__file__")));
        };
        roots_ = {folder("jedi"), folder("parso")};
        py::object paths = py::module_::import("sysconfig").attr("get_paths")();
        for (const char* key : {"stdlib", "platstdlib"}) roots_.push_back(normalised_path(paths.attr("get")(key)));
    }

    bool own(py::handle value) const {
        if (PyType_Check(value.ptr())) {
            if (is_ours(module_of(value))) return true;
            // Classes imported from elsewhere are not checked; one derived from jedi's is a host's.
            for (py::handle base : value.attr("__mro__")) {
                if (is_ours(module_of(base))) return false;
            }
            return true;
        }
        if (PyObject_TypeCheck(value.ptr(), &PyProperty_Type)) {
            for (const char* part : {"fget", "fset", "fdel"}) {
                py::object f = value.attr(part);
                if (!f.is_none() && !own(f)) return false;
            }
            return true;
        }
        if (PyObject_TypeCheck(value.ptr(), &PyStaticMethod_Type) || PyObject_TypeCheck(value.ptr(), &PyClassMethod_Type)) {
            return own(pyobj::attr(value, PYOBJ_NAME("__func__")));
        }
        if (!PyCallable_Check(value.ptr())) {
            // Data is nobody's code; a descriptor is code when read through the class (a
            // functools.partialmethod around a host's function, say), so only the interpreter's
            // static descriptor types (slots, members, namedtuple fields) and jedi's or parso's
            // own classes pass.
            PyTypeObject* type = Py_TYPE(value.ptr());
            if (!type->tp_descr_get || !(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) return true;
            return is_ours(module_of(reinterpret_cast<PyObject*>(type)));
        }
        py::object code_object;
        if (pyobj::get_attr_if_present(value, PYOBJ_NAME("__code__"), code_object)) {
            py::object file = pyobj::attr(code_object, PYOBJ_NAME("co_filename"));
            const char* text = PyUnicode_Check(file.ptr()) ? PyUnicode_AsUTF8(file.ptr()) : nullptr;
            if (!text) return false;
            if (starts_with(text, "<frozen ")) return true;  // the standard library's, frozen in
            if (std::strcmp(text, "<string>") == 0) {
                // The __new__ that collections.namedtuple generates.
                py::object g = pyobj::attr(value, PYOBJ_NAME("__globals__"));
                py::object name = PyDict_Check(g.ptr()) ? pyobj::dict_get(g, PYOBJ_NAME("__name__")) : py::object();
                const char* module = name && PyUnicode_Check(name.ptr()) ? PyUnicode_AsUTF8(name.ptr()) : nullptr;
                return module && starts_with(module, "namedtuple_");
            }
            return in_roots(file, text);
        }
        // Built-in functions, typing's constructs and jedi's own callable objects.
        if (PyCFunction_Check(value.ptr())) return true;
        py::object type_module = module_of(reinterpret_cast<PyObject*>(Py_TYPE(value.ptr())));
        return is_ours(type_module) ||
               (PyUnicode_Check(type_module.ptr()) && pyobj::equals(type_module, PYOBJ_NAME("typing")));
    }

private:
    // A code object's file lies under one of the roots. Thousands of functions share a few hundred
    // files, so an absolute name's answer is kept (it depends on nothing else); a relative one
    // depends on the working directory and is worked out each time.
    bool in_roots(py::handle file, const char* text) const {
        if (text[0] == '/') {
            auto known = files_.find(text);
            if (known != files_.end()) return known->second;
        }
        std::string path = normalised_path(file);
        bool under = false;
        for (const std::string& root : roots_) under = under || is_under(path, root);
        if (text[0] == '/') files_.emplace(text, under);
        return under;
    }

    std::vector<std::string> roots_;
    mutable std::unordered_map<std::string, bool> files_;
};

// The dicts to watch: every loaded module of jedi's and parso's, and the classes they define.
void collect_dicts(std::vector<PyObject*>& dicts) {
    PyObject* modules = PySys_GetObject("modules");  // borrowed
    if (!modules || !PyDict_Check(modules)) pyobj::raise(PyExc_RuntimeError, "sys.modules");
    PyObject *name, *module;
    Py_ssize_t pos = 0;
    while (PyDict_Next(modules, &pos, &name, &module)) {
        if (!PyModule_Check(module) || !is_ours(name)) continue;
        PyObject* d = PyModule_GetDict(module);  // borrowed
        dicts.push_back(d);
        PyObject *key, *value;
        Py_ssize_t inner = 0;
        while (PyDict_Next(d, &inner, &key, &value)) {
            if (!PyType_Check(value)) continue;
            py::object defined_in = module_of(value);
            if (PyUnicode_Check(defined_in.ptr()) && PyUnicode_Compare(defined_in.ptr(), name) == 0) {
                dicts.push_back(reinterpret_cast<PyTypeObject*>(value)->tp_dict);
            }
        }
    }
}

// What may run as code, in order: of a module dict its callables and descriptors, of a class dict
// every value (any value there may be a descriptor, and one rebound is seen at once).
void collect_callables_of(PyObject* d, std::vector<PyObject*>& callables) {
    callables.push_back(d);
    bool class_dict = !PyDict_GetItemString(d, "__builtins__") && PyDict_GetItemString(d, "__module__");
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(d, &pos, &key, &value)) {
        if (class_dict || PyCallable_Check(value) || Py_TYPE(value)->tp_descr_get) callables.push_back(value);
    }
}

// ... of every dict, each dict's first place in `callables` noted in `starts`.
void collect_callables(const std::vector<PyObject*>& dicts, std::vector<PyObject*>& callables, std::vector<size_t>& starts) {
    starts.clear();
    for (PyObject* d : dicts) {
        starts.push_back(callables.size());
        collect_callables_of(d, callables);
    }
}

// jedi's plugin manager holds only jedi's own plugins, and the functions it built from them are
// jedi's code: a host's plugin changes jedi's answers as a patch does.
bool plugins_are_own(const Checker& checker) {
    py::object manager = pyobj::attr(pyobj::import(PYOBJ_NAME("jedi.plugins")), PYOBJ_NAME("plugin_manager"));
    py::object plugins = pyobj::attr(manager, PYOBJ_NAME("_registered_plugins"));
    py::object built = pyobj::attr(manager, PYOBJ_NAME("_built_functions"));
    if (!PyList_CheckExact(plugins.ptr()) || !PyDict_CheckExact(built.ptr())) return false;
    for (py::handle plugin : plugins) {
        if (!PyModule_CheckExact(plugin.ptr())) return false;
        py::object name = pyobj::attr(plugin, PYOBJ_NAME("__name__"));
        if (!PyUnicode_Check(name.ptr()) || pyobj::utf8(name).rfind("jedi.plugins.", 0) != 0) return false;
    }
    for (auto item : py::reinterpret_borrow<py::dict>(built)) {
        if (!checker.own(item.second)) return false;
    }
    return true;
}

struct Verified {
    Py_ssize_t modules = -1;     // len(sys.modules) when the dicts were collected
    std::vector<PyObject*> dicts, callables;
    std::vector<size_t> starts;      // where each dict's callables begin
    std::vector<uint64_t> versions;  // of the dicts, when their callables were last collected
    py::list alive;  // holds them, so that an address seen again is the same object
    bool own = false;
    // Every value that passed a check, held like those above: a dict that changed is checked in
    // its new values only, and a process that imports a module now and then pays only for it.
    std::unordered_set<PyObject*> passed;
    py::list passed_alive;
};

Verified& verified() {
    static auto* v = new Verified;  // never destroyed: it holds Python objects
    return *v;
}

// Each dict's version: the interpreter gives a dict a new one whenever it changes, so an equal
// version means no name was bound, rebound or deleted. Empty where the interpreter has none to read.
std::vector<uint64_t> versions_of(const std::vector<PyObject*>& dicts) {
    std::vector<uint64_t> versions;
#if PY_VERSION_HEX < 0x030C0000
    versions.reserve(dicts.size());
    for (PyObject* d : dicts) versions.push_back(reinterpret_cast<PyDictObject*>(d)->ma_version_tag);
#else
    (void)dicts;
#endif
    return versions;
}

// The same modules as at the last check, and every dict that changed since (jedi.debug's, whose
// indent moves on every call) still holds the same callables.
bool unchanged_since(Verified& last) {
    std::vector<uint64_t> versions = versions_of(last.dicts);
    if (versions.empty() || versions.size() != last.versions.size()) return false;
    std::vector<PyObject*> now;
    for (size_t i = 0; i < versions.size(); ++i) {
        if (versions[i] == last.versions[i]) continue;
        now.clear();
        collect_callables_of(last.dicts[i], now);
        auto begin = last.callables.begin() + static_cast<std::ptrdiff_t>(last.starts[i]);
        auto end = i + 1 < last.starts.size() ? last.callables.begin() + static_cast<std::ptrdiff_t>(last.starts[i + 1])
                                              : last.callables.end();
        if (!std::equal(now.begin(), now.end(), begin, end)) return false;
    }
    last.versions = std::move(versions);
    return true;
}

Py_ssize_t module_count() {
    PyObject* modules = PySys_GetObject("modules");  // borrowed
    return modules && PyDict_Check(modules) ? PyDict_GET_SIZE(modules) : -1;
}

}  // namespace

bool jedi_is_as_shipped() {
    static Checker* checker = new Checker;
    if (!plugins_are_own(*checker)) return false;
    Verified& last = verified();
    std::vector<PyObject*> callables;
    // The same modules as at the last check: only a rebound name can have changed.
    if (last.modules == module_count()) {
        if (unchanged_since(last)) return last.own;
        std::vector<size_t> starts;
        collect_callables(last.dicts, callables, starts);
        if (callables == last.callables) {
            last.versions = versions_of(last.dicts);
            return last.own;
        }
        callables.clear();
    }
    std::vector<PyObject*> dicts;
    std::vector<size_t> starts;
    collect_dicts(dicts);
    collect_callables(dicts, callables, starts);
    if (callables == last.callables) {
        last.modules = module_count();
        last.versions = versions_of(last.dicts);
        return last.own;
    }
    // Rebinding back and forth must not grow the memo without bound.
    if (last.passed.size() > 2 * callables.size() + 4096) {
        last.passed.clear();
        last.passed_alive = py::list();
    }
    bool own = true;
    for (PyObject* value : callables) {
        if (last.passed.count(value)) continue;
        if (!(own = checker->own(value))) break;
        last.passed.insert(value);
        last.passed_alive.append(py::handle(value));
    }
    py::list alive;
    for (PyObject* value : callables) alive.append(py::handle(value));  // the dicts are among them
    last.modules = module_count();
    last.dicts = std::move(dicts);
    last.starts = std::move(starts);
    last.versions = versions_of(last.dicts);
    last.callables = std::move(callables);
    last.alive = std::move(alive);
    last.own = own;
    return own;
}

bool bridge_is_own(py::handle self) {
    py::object cls = pyobj::global(PYOBJ_NAME("LSPBridge"));
    if (reinterpret_cast<PyObject*>(Py_TYPE(self.ptr())) != cls.ptr()) return false;
    py::object bound = pyobj::attr(self, PYOBJ_NAME("_format_signature"));
    return PyMethod_Check(bound.ptr()) && PyMethod_GET_SELF(bound.ptr()) == self.ptr() &&
           boundary::is_method_named(PyMethod_GET_FUNCTION(bound.ptr()), "_format_signature");
}

}  // namespace item_cache
