#include "completion/jedi_state.h"

#include "completion/jedi_own.h"
#include "completion/library_files.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace completion {

namespace {

using pyobj::attr;
using pyobj::call_method;
using pyobj::import;
using pyobj::utf8;

// A path object or str as a normalised path; "" for anything else.
std::string path_of(py::handle value) {
    if (value.is_none()) return std::string();
    return normalised_path(pyobj::steal(PyOS_FSPath(value.ptr())));
}

void add_tree(LoadedModule& loaded, py::handle value) {
    py::object tree, lines;
    if (pyobj::get_attr_if_present(value, PYOBJ_NAME("tree_node"), tree) && !tree.is_none()) loaded.tree = tree;
    if (pyobj::get_attr_if_present(value, PYOBJ_NAME("code_lines"), lines) && PyList_CheckExact(lines.ptr())) {
        loaded.code_lines = lines;
    }
}

// One value of a module cache: its file, or its folders when it is a namespace package.
void add_value(LoadedModule& loaded, py::handle value) {
    if (pyobj::truthy(call_method(value, PYOBJ_NAME("is_namespace")))) {
        for (py::handle folder : call_method(value, PYOBJ_NAME("py__path__"))) loaded.files.push_back(path_of(folder));
        return;
    }
    std::string file = path_of(call_method(value, PYOBJ_NAME("py__file__")));
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

std::optional<JediState> JediState::of(py::handle script, const std::string& sync_folder) {
    py::object jedi = import(PYOBJ_NAME("jedi"));
    if (reinterpret_cast<PyObject*>(Py_TYPE(script.ptr())) != attr(jedi, PYOBJ_NAME("Script")).ptr()) return std::nullopt;
    if (!jedi_is_own()) return std::nullopt;
    JediState s;
    s.state_ = attr(script, PYOBJ_NAME("_inference_state"));
    py::object environment = attr(s.state_, PYOBJ_NAME("environment"));
    py::object sys = import(PYOBJ_NAME("sys"));
    py::list parts;
    for (py::object part : {attr(sys, PYOBJ_NAME("version")), attr(sys, PYOBJ_NAME("executable")),
                            attr(jedi, PYOBJ_NAME("__version__")), attr(jedi, PYOBJ_NAME("__file__")),
                            attr(environment, PYOBJ_NAME("executable")),
                            py::object(py::tuple(attr(environment, PYOBJ_NAME("version_info"))))}) {
        parts.append(py::str(part));
    }
    for (py::handle entry : call_method(s.state_, PYOBJ_NAME("get_sys_path"))) {
        std::string path = normalised_path(py::str(entry));
        s.search_path_.push_back(path);
        if (!sync_folder.empty() && is_under(path, sync_folder)) path = "<sync>" + path.substr(sync_folder.size());
        parts.append(py::str(path));
    }
    s.context_ = utf8(pyobj::steal(PyUnicode_Join(py::str("\n").ptr(), parts.ptr())));
    s.project_path_ = path_of(attr(attr(s.state_, PYOBJ_NAME("project")), PYOBJ_NAME("path")));
    return s;
}

std::vector<LoadedModule> JediState::loaded() const {
    std::vector<LoadedModule> modules;
    py::object module_cache = attr(state_, PYOBJ_NAME("module_cache"));
    for (auto item : py::reinterpret_borrow<py::dict>(attr(module_cache, PYOBJ_NAME("_name_cache")))) {
        LoadedModule loaded = named(item.first);
        if (!item.second.is_none()) {
            for (py::handle value : item.second) add_value(loaded, value);
        }
        modules.push_back(std::move(loaded));
    }
    for (auto item : py::reinterpret_borrow<py::dict>(attr(state_, PYOBJ_NAME("stub_module_cache")))) {
        LoadedModule loaded = named(item.first);
        if (!item.second.is_none()) add_value(loaded, item.second);
        modules.push_back(std::move(loaded));
    }
    return modules;
}

std::vector<std::string> imported_names(py::handle tree) {
    std::vector<std::string> names;
    for (py::handle statement : call_method(tree, PYOBJ_NAME("iter_imports"))) {
        if (pyobj::truthy(attr(statement, PYOBJ_NAME("level")))) continue;  // relative: inside its own package
        for (py::handle path : call_method(statement, PYOBJ_NAME("get_paths"))) {
            if (py::len(path) > 0) names.push_back(utf8(attr(path[py::int_(0)], PYOBJ_NAME("value"))));
        }
    }
    return names;
}

bool is_text_on_disk(const std::string& path, py::handle code_lines) {
    static pyobj::KeywordNames decoding{"encoding", "errors"};
    py::object file = pyobj::call(attr(import(PYOBJ_NAME("pathlib")), PYOBJ_NAME("Path")), py::str(path));
    py::object data = call_method(file, PYOBJ_NAME("read_bytes"));
    py::object to_unicode = attr(import(PYOBJ_NAME("parso")), PYOBJ_NAME("python_bytes_to_unicode"));
    py::object text = pyobj::call_kw(to_unicode, decoding, data, PYOBJ_NAME("utf-8").get(), PYOBJ_NAME("replace").get());
    py::object held = pyobj::steal(PyUnicode_Join(py::str("").ptr(), code_lines.ptr()));
    return pyobj::equals(text, held);
}

const std::vector<std::string>& names_jedi_imports() {
    static const std::vector<std::string> names{"builtins", "typing", "types"};
    return names;
}

}  // namespace completion
