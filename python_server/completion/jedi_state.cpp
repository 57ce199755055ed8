#include "completion/jedi_state.h"

#include "completion/jedi_own.h"
#include "completion/library_files.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace completion {

namespace {

using pyobj::Name;
using pyobj::utf8;

py::module_ module(const char* name) { return py::module_::import(name); }

// A path object or str as a normalised path; "" for anything else.
std::string path_of(py::handle value) {
    if (value.is_none()) return std::string();
    return normalised_path(pyobj::steal(PyOS_FSPath(value.ptr())));
}

void add_tree(LoadedModule& loaded, py::handle value) {
    static Name tree_node("tree_node"), code_lines("code_lines");
    py::object tree, lines;
    if (pyobj::get_attr_if_present(value, tree_node, tree) && !tree.is_none()) loaded.tree = tree;
    if (pyobj::get_attr_if_present(value, code_lines, lines) && PyList_CheckExact(lines.ptr())) loaded.code_lines = lines;
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

std::optional<JediState> JediState::of(py::handle script, const std::string& sync_folder) {
    if (reinterpret_cast<PyObject*>(Py_TYPE(script.ptr())) != module("jedi").attr("Script").ptr()) return std::nullopt;
    if (!jedi_is_own()) return std::nullopt;
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
        std::string path = normalised_path(py::str(entry));
        s.search_path_.push_back(path);
        if (!sync_folder.empty() && is_under(path, sync_folder)) path = "<sync>" + path.substr(sync_folder.size());
        parts.append(py::str(path));
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

bool is_text_on_disk(const std::string& path, py::handle code_lines) {
    static Name read_bytes("read_bytes"), to_unicode("python_bytes_to_unicode");
    static pyobj::KeywordNames decoding{"encoding", "errors"};
    py::object data = pyobj::call_method(module("pathlib").attr("Path")(py::str(path)), read_bytes);
    py::object text = pyobj::call_kw(pyobj::attr(module("parso"), to_unicode), decoding, data, py::str("utf-8"),
                                     py::str("replace"));
    py::object held = pyobj::steal(PyUnicode_Join(py::str("").ptr(), code_lines.ptr()));
    return pyobj::equals(text, held);
}

const std::vector<std::string>& names_jedi_imports() {
    static const std::vector<std::string> names{"builtins", "typing", "types"};
    return names;
}

}  // namespace completion
