// Reading jedi's state: the context's parts, the modules a request loaded, jedi's limits and helper, parso's kept texts.
#include "item_cache/jedi_state.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "item_cache/jedi_as_shipped.h"
#include "item_cache/key.h"
#include "item_cache/library_files.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache {

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
    if (file.empty()) return;
    loaded.files.push_back(file);
    add_tree(loaded, value);
    // Only a package's __init__ file can declare more folders (asking a compiled module would
    // ask jedi's helper process).
    std::string own = file.substr(0, file.rfind('/'));
    if (file.compare(own.size(), std::string::npos, "/__init__.py") != 0 &&
        file.compare(own.size(), std::string::npos, "/__init__.pyi") != 0) {
        return;
    }
    py::object folders = call_method(value, PYOBJ_NAME("py__path__"));
    if (folders.is_none()) return;
    for (py::handle folder : folders) {
        std::string path = path_of(folder);
        if (path != own) loaded.portions.push_back(std::move(path));
    }
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
    if (!jedi_is_as_shipped()) return std::nullopt;
    JediState s;
    s.state_ = attr(script, PYOBJ_NAME("_inference_state"));
    py::object environment = attr(s.state_, PYOBJ_NAME("environment"));
    py::object sys = import(PYOBJ_NAME("sys"));
    std::optional<std::string> settings = key::settings_text();
    if (!settings) return std::nullopt;
    key::ContextParts parts = {attr(sys, PYOBJ_NAME("version")), attr(sys, PYOBJ_NAME("executable")),
                               attr(jedi, PYOBJ_NAME("__version__")), attr(jedi, PYOBJ_NAME("__file__")),
                               attr(import(PYOBJ_NAME("parso")), PYOBJ_NAME("__version__")),
                               py::str(key::build_identity()),
                               attr(environment, PYOBJ_NAME("executable")),
                               py::tuple(attr(environment, PYOBJ_NAME("version_info"))),
                               py::str(*settings)};
    for (py::handle entry : call_method(s.state_, PYOBJ_NAME("get_sys_path"))) {
        s.search_path_.push_back(normalised_path(py::str(entry)));
    }
    s.context_ = key::context(parts, s.search_path_, sync_folder);
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

namespace {

long long as_count(py::handle value) { return pyobj::check_value(PyLong_AsLongLong(value.ptr()), -1LL); }

// Calls `visit(key, count)` for every counter of a dict of jedi's counters.
template <class Visit>
void for_each_count(py::handle counts, Visit&& visit) {
    if (!PyDict_Check(counts.ptr())) pyobj::raise(PyExc_TypeError, "jedi's counters");
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(counts.ptr(), &pos, &key, &value)) visit(key, as_count(value));
}

bool any_count_at_least(py::handle counts, long long bound) {
    bool found = false;
    for_each_count(counts, [&](PyObject*, long long count) { found = found || count >= bound; });
    return found;
}

long long count_sum(py::handle counts) {
    long long sum = 0;
    for_each_count(counts, [&](PyObject*, long long count) { sum += count; });
    return sum;
}

// The trees of the modules this state calls `typing`, implementation and stub: jedi lets their
// functions run past the per-function limit, uncounted.
std::vector<py::object> typing_trees(py::handle state) {
    std::vector<py::object> trees;
    py::object key = py::make_tuple(py::str("typing"));
    auto add = [&](py::handle module) {
        py::object tree;
        if (pyobj::get_attr_if_present(module, PYOBJ_NAME("tree_node"), tree) && !tree.is_none()) trees.push_back(tree);
    };
    py::object loaded = pyobj::dict_get(attr(attr(state, PYOBJ_NAME("module_cache")), PYOBJ_NAME("_name_cache")), key);
    if (loaded && !loaded.is_none()) {
        for (py::handle module : loaded) add(module);
    }
    py::object stub = pyobj::dict_get(attr(state, PYOBJ_NAME("stub_module_cache")), key);
    if (stub && !stub.is_none()) add(stub);
    return trees;
}

// Whether a function outside typing's modules has run as often as jedi lets one: only such a
// function's next execution is refused.
bool at_limit_outside_typing(py::handle state, py::handle counts, long long limit) {
    std::vector<py::object> typing = typing_trees(state);
    bool found = false;
    for_each_count(counts, [&](PyObject* funcdef, long long count) {
        if (found || count < limit) return;
        py::object root = call_method(funcdef, PYOBJ_NAME("get_root_node"));
        found = std::none_of(typing.begin(), typing.end(), [&](const py::object& tree) { return tree.is(root); });
    });
    return found;
}

}  // namespace

bool JediState::limit_reached() const {
    // jedi's own value, hard-coded in _limit_value_infers (builtins get more; counted alike here).
    constexpr long long kInferLimit = 300;
    py::object recursion = import(PYOBJ_NAME("jedi.inference.recursion"));
    py::object detector = attr(state_, PYOBJ_NAME("execution_recursion_detector"));
    long long executions = as_count(attr(detector, PYOBJ_NAME("_execution_count")));
    if (executions >= as_count(attr(recursion, PYOBJ_NAME("total_function_execution_limit")))) return true;
    // jedi counts an execution in total before it asks the function's count, and the function's
    // only when it lets it run: every refusal for the function leaves one more in total than the
    // functions' sum. So does an execution of typing's past its limit, which jedi lets run: more
    // in total means a refusal only when a function outside typing is at its limit.
    py::object counts = attr(detector, PYOBJ_NAME("_funcdef_execution_counts"));
    if (executions > count_sum(counts) &&
        at_limit_outside_typing(state_, counts, as_count(attr(recursion, PYOBJ_NAME("per_function_execution_limit"))))) {
        return true;
    }
    return any_count_at_least(attr(state_, PYOBJ_NAME("inferred_element_counts")), kInferLimit + 1);
}

namespace {

// When process `pid` started, rounded down to whole seconds of the boot time (so never later than
// it was); 0 when /proc cannot tell, which keeps every recent change out of the cache.
int64_t process_started_ns(long pid) {
    std::ifstream stat_file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat_file, line) || line.rfind(')') == std::string::npos) return 0;
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string field;
    long long ticks = -1;
    for (int i = 3; i <= 22 && fields >> field; ++i) {  // the fields after the name count from 3
        if (i == 22) ticks = std::atoll(field.c_str());
    }
    std::ifstream proc_stat("/proc/stat");
    long long boot = -1;
    while (std::getline(proc_stat, line)) {
        if (line.compare(0, 6, "btime ") == 0) boot = std::atoll(line.c_str() + 6);
    }
    long hz = ::sysconf(_SC_CLK_TCK);
    if (ticks < 0 || boot <= 0 || hz <= 0) return 0;
    return boot * 1000000000LL + ticks / hz * 1000000000LL + ticks % hz * (1000000000LL / hz);
}

}  // namespace

std::optional<int64_t> JediState::helper_started_ns() const {
    py::object subprocess = import(PYOBJ_NAME("jedi.inference.compiled.subprocess"));
    py::object process = attr(state_, PYOBJ_NAME("compiled_subprocess"));
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(process.ptr()));
    if (type == attr(subprocess, PYOBJ_NAME("InferenceStateSameProcess")).ptr()) return process_started_ns(::getpid());
    if (type != attr(subprocess, PYOBJ_NAME("InferenceStateSubprocess")).ptr()) pyobj::raise(PyExc_TypeError, "jedi's helper");
    // CompiledSubprocess._get_process keeps the Popen in memoize_method's dict once started.
    py::object fields = attr(attr(process, PYOBJ_NAME("_compiled_subprocess")), PYOBJ_NAME("__dict__"));
    py::object memos = pyobj::dict_get(fields, PYOBJ_NAME("_memoize_method_dct"));
    if (!memos) return std::nullopt;
    std::optional<int64_t> started;
    for (auto method : py::reinterpret_borrow<py::dict>(memos)) {
        for (auto result : py::reinterpret_borrow<py::dict>(method.second)) {
            py::object pid;
            if (!pyobj::get_attr_if_present(result.second, PYOBJ_NAME("pid"), pid) || !PyLong_Check(pid.ptr())) continue;
            int64_t at = process_started_ns(pyobj::check_value(PyLong_AsLong(pid.ptr()), -1L));
            if (!started || at < *started) started = at;
        }
    }
    return started;
}

std::vector<py::object> ParsedTexts::lines_for(const std::string& path, int64_t mtime_ns) {
    if (!items_) {
        items_.emplace();
        py::object caches = attr(import(PYOBJ_NAME("parso.cache")), PYOBJ_NAME("parser_cache"));
        for (auto grammar : py::reinterpret_borrow<py::dict>(caches)) {
            for (auto item : py::reinterpret_borrow<py::dict>(grammar.second)) {
                std::string held = path_of(item.first);
                if (!held.empty()) items_->emplace_back(std::move(held), py::reinterpret_borrow<py::object>(item.second));
            }
        }
    }
    std::vector<py::object> found;
    // os.path.getmtime's float, which parso compares with the time it kept for the tree.
    double mtime = static_cast<double>(mtime_ns / 1000000000) + static_cast<double>(mtime_ns % 1000000000) * 1e-9;
    for (const auto& [held, item] : *items_) {
        if (held != path) continue;
        double kept = pyobj::check_value(PyFloat_AsDouble(attr(item, PYOBJ_NAME("change_time")).ptr()), -1.0);
        if (mtime <= kept + 1e-6) found.push_back(attr(item, PYOBJ_NAME("lines")));
    }
    return found;
}

namespace {

bool is_leaf(py::handle node, pyobj::Name& type, pyobj::Name& value) {
    return pyobj::equals(attr(node, PYOBJ_NAME("type")), type) && pyobj::equals(attr(node, PYOBJ_NAME("value")), value);
}

// `sys.path...`: a power or atom_expr whose first two parts are the name `sys` and a trailer
// naming `path` (jedi finds `sys[path]` too; only an assignment needs the dot).
bool is_sys_path(py::handle node, bool dotted) {
    py::object type = attr(node, PYOBJ_NAME("type"));
    if (!pyobj::equals(type, PYOBJ_NAME("power")) && !pyobj::equals(type, PYOBJ_NAME("atom_expr"))) return false;
    py::object children = attr(node, PYOBJ_NAME("children"));
    if (py::len(children) < 2 || !is_leaf(children[py::int_(0)], PYOBJ_NAME("name"), PYOBJ_NAME("sys"))) return false;
    py::object trailer = children[py::int_(1)];
    if (!pyobj::equals(attr(trailer, PYOBJ_NAME("type")), PYOBJ_NAME("trailer"))) return false;
    py::object parts = attr(trailer, PYOBJ_NAME("children"));
    return py::len(parts) > 1 && (!dotted || is_leaf(parts[py::int_(0)], PYOBJ_NAME("operator"), PYOBJ_NAME("."))) &&
           is_leaf(parts[py::int_(1)], PYOBJ_NAME("name"), PYOBJ_NAME("path"));
}

// `sys.path.insert(...)` or `sys.path.append(...)`, from which jedi reads a folder.
bool is_list_change(py::handle power) {
    py::object children = attr(power, PYOBJ_NAME("children"));
    py::object method = children[py::int_(2)], call = children[py::int_(3)];
    if (!pyobj::equals(attr(method, PYOBJ_NAME("type")), PYOBJ_NAME("trailer")) ||
        !pyobj::equals(attr(call, PYOBJ_NAME("type")), PYOBJ_NAME("trailer"))) {
        return false;
    }
    py::object named = attr(method, PYOBJ_NAME("children")), called = attr(call, PYOBJ_NAME("children"));
    if (!is_leaf(named[py::int_(0)], PYOBJ_NAME("operator"), PYOBJ_NAME(".")) ||
        !is_leaf(called[py::int_(0)], PYOBJ_NAME("operator"), PYOBJ_NAME("(")) || py::len(called) != 3) {
        return false;
    }
    py::object name = attr(named[py::int_(1)], PYOBJ_NAME("value"));
    return pyobj::equals(name, PYOBJ_NAME("insert")) || pyobj::equals(name, PYOBJ_NAME("append"));
}

// A statement that assigns to `sys.path...` with `=` or `+=`, from which jedi reads folders.
bool assigns_sys_path(py::handle statement) {
    py::object children = attr(statement, PYOBJ_NAME("children"));
    Py_ssize_t n = py::len(children);
    for (Py_ssize_t i = 0; i + 1 < n; i += 2) {
        py::object op = children[py::int_(i + 1)];
        bool assigning = is_leaf(op, PYOBJ_NAME("operator"), PYOBJ_NAME("=")) ||
                         is_leaf(op, PYOBJ_NAME("operator"), PYOBJ_NAME("+="));
        if (assigning && is_sys_path(children[py::int_(i)], true)) return true;
    }
    return false;
}

}  // namespace

bool changes_search_path(py::handle tree) {
    py::object used = call_method(tree, PYOBJ_NAME("get_used_names"));
    py::object names = call_method(used, PYOBJ_NAME("get"), PYOBJ_NAME("path").get());
    if (names.is_none()) return false;
    // jedi's own test (check_sys_path_modifications): each `sys.path` that is inserted into,
    // appended to or assigned; a module that only reads it adds no folder.
    for (py::handle name : names) {
        py::object power = attr(attr(name, PYOBJ_NAME("parent")), PYOBJ_NAME("parent"));
        if (power.is_none() || !is_sys_path(power, false)) continue;
        if (py::len(attr(power, PYOBJ_NAME("children"))) >= 4) {
            if (is_list_change(power)) return true;
            continue;
        }
        py::object statement = attr(power, PYOBJ_NAME("parent"));
        if (!statement.is_none() && pyobj::equals(attr(statement, PYOBJ_NAME("type")), PYOBJ_NAME("expr_stmt")) &&
            assigns_sys_path(statement)) {
            return true;
        }
    }
    return false;
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

}  // namespace item_cache
