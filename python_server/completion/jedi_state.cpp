#include "completion/jedi_state.h"

#include "completion/library_files.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace completion {

namespace {

using pyobj::Name;

py::module_ module(const char* name) { return py::module_::import(name); }

std::string utf8(py::handle text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (!data) pyobj::throw_error();
    return std::string(data, static_cast<size_t>(size));
}

// A path object or str as a normalised path; "" for anything else.
std::string path_of(py::handle value) {
    if (value.is_none()) return std::string();
    return normalised_path(pyobj::steal(PyOS_FSPath(value.ptr())));
}

// The code object behind a class attribute: a function's, or a property's or wrapper's.
bool defined_in(py::handle value, const std::string& folder) {
    static Name code("__code__"), filename("co_filename"), func("__func__");
    py::object own;
    if (pyobj::get_attr_if_present(value, func, own)) return defined_in(own, folder);
    if (PyObject_TypeCheck(value.ptr(), &PyProperty_Type)) {
        for (const char* part : {"fget", "fset", "fdel"}) {
            py::object f = value.attr(part);
            if (!f.is_none() && !defined_in(f, folder)) return false;
        }
        return true;
    }
    if (!PyCallable_Check(value.ptr())) return true;  // data: no code of anyone's
    py::object code_object;
    if (!pyobj::get_attr_if_present(value, code, code_object)) return PyType_Check(value.ptr());
    std::string file = path_of(code_object.attr(filename));
    if (is_under(file, folder)) return true;
    // jedi's own decorators made with contextlib (debug.increase_indent): the function inside counts.
    static Name wrapped("__wrapped__"), contextlib("contextlib"), module_file("__file__");
    py::object inner;
    return pyobj::get_attr_if_present(value, wrapped, inner) &&
           file == path_of(pyobj::attr(py::module_::import(contextlib.text()), module_file)) && defined_in(inner, folder);
}

// What jedi.api.classes imports from parso, or a typing construct.
bool imported(py::handle value, const std::string& parso) {
    static Name module_attr("__module__");
    py::object type_module;
    if (pyobj::get_attr_if_present(reinterpret_cast<PyObject*>(Py_TYPE(value.ptr())), module_attr, type_module) &&
        PyUnicode_Check(type_module.ptr()) && utf8(type_module) == "typing") {
        return true;
    }
    return defined_in(value, parso);
}

// Every method and property that the items read through jedi.api.classes (the classes there and
// their bases) is jedi's own code. A host that wraps one (say Completion.docstring) must see its
// wrapper called, as the items without the cache would call it. What was found good is kept with
// the objects it checked, so a request compares pointers until a class dict changes.
class OwnApi {
public:
    static std::string folder_of(const char* package) {
        return normalised_path(module("os.path").attr("dirname")(module(package).attr("__file__")));
    }

    bool check() {
        py::object classes = module("jedi.api.classes");
        py::list dicts = class_dicts(classes);
        if (same_as_checked(dicts)) return true;
        std::string jedi = folder_of("jedi"), parso = folder_of("parso");
        Py_ssize_t last = PyList_GET_SIZE(dicts.ptr()) - 1;
        for (Py_ssize_t i = 0; i <= last; ++i) {
            for (auto item : py::reinterpret_borrow<py::dict>(PyList_GET_ITEM(dicts.ptr(), i))) {
                // The module's globals also hold what it imports from parso and typing.
                if (!defined_in(item.second, jedi) && !(i == last && imported(item.second, parso))) return false;
            }
        }
        checked_ = snapshot(dicts);
        return true;
    }

private:
    // The dicts of the jedi classes jedi.api.classes holds now, with their bases up to object. A
    // class that only derives from jedi's (a host's subclass put in its place) counts as jedi's,
    // so its own methods are checked; classes merely imported there (pathlib's) do not.
    static py::list class_dicts(py::handle classes) {
        static Name module_attr("__module__");
        auto is_jedis = [](py::handle cls) {
            py::object name = pyobj::attr(cls, module_attr);
            return PyUnicode_Check(name.ptr()) && utf8(name).rfind("jedi.", 0) == 0;
        };
        py::list dicts;
        py::dict seen;
        for (auto item : py::reinterpret_borrow<py::dict>(classes.attr("__dict__"))) {
            if (!PyType_Check(item.second.ptr())) continue;
            py::object mro = item.second.attr("__mro__");
            bool derives = false;
            for (py::handle base : mro) derives = derives || is_jedis(base);
            if (!derives) continue;
            for (py::handle base : mro) {
                // Built-in types cannot be patched.
                if (!PyType_HasFeature(reinterpret_cast<PyTypeObject*>(base.ptr()), Py_TPFLAGS_HEAPTYPE) ||
                    pyobj::contains(seen, base)) {
                    continue;
                }
                seen[base] = py::none();
                if (PyObject* d = reinterpret_cast<PyTypeObject*>(base.ptr())->tp_dict) dicts.append(d);
            }
        }
        dicts.append(classes.attr("__dict__"));
        return dicts;
    }

    // (dict, (values...)) per dict: holding the values keeps their addresses theirs.
    static py::list snapshot(const py::list& dicts) {
        py::list taken;
        for (py::handle d : dicts) taken.append(py::make_tuple(d, py::tuple(pyobj::steal(PyDict_Values(d.ptr())))));
        return taken;
    }

    bool same_as_checked(const py::list& dicts) const {
        if (!checked_ || PyList_GET_SIZE(checked_.ptr()) != PyList_GET_SIZE(dicts.ptr())) return false;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(dicts.ptr()); ++i) {
            py::handle d = PyList_GET_ITEM(dicts.ptr(), i);
            py::tuple taken = py::reinterpret_borrow<py::tuple>(PyList_GET_ITEM(checked_.ptr(), i));
            if (taken[0].ptr() != d.ptr()) return false;
            py::tuple values = taken[1];
            if (PyDict_GET_SIZE(d.ptr()) != PyTuple_GET_SIZE(values.ptr())) return false;
            PyObject *key, *value;
            Py_ssize_t pos = 0, index = 0;
            while (PyDict_Next(d.ptr(), &pos, &key, &value)) {
                if (PyTuple_GET_ITEM(values.ptr(), index++) != value) return false;
            }
        }
        return true;
    }

    py::list checked_;
};

OwnApi& own_api() {
    static OwnApi* api = new OwnApi;  // never destroyed: it holds Python objects
    return *api;
}

void add_tree(LoadedModule& loaded, py::handle value) {
    static Name tree_node("tree_node");
    py::object tree;
    if (pyobj::get_attr_if_present(value, tree_node, tree) && !tree.is_none()) loaded.tree = tree;
}

// One value of a module cache: its file, or its folders when it is a namespace package.
void add_value(LoadedModule& loaded, py::handle value) {
    static Name py_file("py__file__"), is_namespace("is_namespace"), py_path("py__path__");
    if (pyobj::truthy(pyobj::call_method(value, is_namespace))) {
        for (py::handle folder : pyobj::call_method(value, py_path)) loaded.files.push_back(path_of(folder));
        return;
    }
    std::string file = path_of(pyobj::call_method(value, py_file));
    if (!file.empty()) loaded.files.push_back(file);
    add_tree(loaded, value);
}

LoadedModule named(py::handle names) {
    LoadedModule loaded;
    if (!PyTuple_Check(names.ptr()) || PyTuple_GET_SIZE(names.ptr()) == 0) pyobj::raise(PyExc_TypeError, "module names");
    loaded.top = utf8(PyTuple_GET_ITEM(names.ptr(), 0));
    return loaded;
}

}  // namespace

std::optional<JediState> JediState::of(py::handle script) {
    if (reinterpret_cast<PyObject*>(Py_TYPE(script.ptr())) != module("jedi").attr("Script").ptr()) return std::nullopt;
    if (!own_api().check()) return std::nullopt;
    JediState s;
    s.state_ = script.attr("_inference_state");
    py::object environment = s.state_.attr("environment");
    py::module_ sys = module("sys"), jedi = module("jedi");
    py::list parts;
    for (py::object part : {py::object(sys.attr("version")), py::object(sys.attr("executable")),
                            py::object(jedi.attr("__version__")), py::object(jedi.attr("__file__")),
                            py::object(environment.attr("executable")),
                            py::object(py::tuple(environment.attr("version_info")))}) {
        parts.append(py::str(part));
    }
    for (py::handle entry : s.state_.attr("get_sys_path")()) {
        s.search_path_.push_back(normalised_path(py::str(entry)));
        parts.append(py::str(entry));
    }
    s.context_ = utf8(py::str("\n").attr("join")(parts));
    s.project_path_ = path_of(s.state_.attr("project").attr("path"));
    return s;
}

std::vector<LoadedModule> JediState::loaded() const {
    std::vector<LoadedModule> modules;
    for (auto item : py::reinterpret_borrow<py::dict>(state_.attr("module_cache").attr("_name_cache"))) {
        LoadedModule loaded = named(item.first);
        if (!item.second.is_none()) {
            for (py::handle value : item.second) add_value(loaded, value);
        }
        modules.push_back(std::move(loaded));
    }
    for (auto item : py::reinterpret_borrow<py::dict>(state_.attr("stub_module_cache"))) {
        LoadedModule loaded = named(item.first);
        if (!item.second.is_none()) add_value(loaded, item.second);
        modules.push_back(std::move(loaded));
    }
    return modules;
}

std::vector<std::string> imported_names(py::handle tree) {
    static Name iter_imports("iter_imports"), level("level"), get_paths("get_paths"), value("value");
    std::vector<std::string> names;
    for (py::handle import : pyobj::call_method(tree, iter_imports)) {
        if (pyobj::truthy(import.attr(level))) continue;  // relative: inside its own package
        for (py::handle path : pyobj::call_method(import, get_paths)) {
            if (py::len(path) > 0) names.push_back(utf8(path[py::int_(0)].attr(value)));
        }
    }
    return names;
}

const std::vector<std::string>& names_jedi_imports() {
    static const std::vector<std::string> names{"builtins", "typing", "types"};
    return names;
}

}  // namespace completion
