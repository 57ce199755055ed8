#include "workspace/stop_cleanup.h"

#include <cstring>

#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace workspace {
namespace stop_cleanup {

namespace {

// One frame of the traceback: its file, function and locals.
struct Frame {
    py::object file, function, locals;

    py::object local(const char* name) const {
        PyObject* value = PyDict_GetItemString(locals.ptr(), name);  // borrowed; never raises
        return value ? py::reinterpret_borrow<py::object>(value) : py::object();
    }
};

using Undo = void (*)(const Frame&);

// jedi's helper process: a question sent and its answer not read (or half a question written)
// would give every later request the answer to another question. Killing it marks it crashed;
// jedi's Environment starts a fresh one at its next use.
void kill_helper_process(const Frame& f) {
    py::object helper = f.local("self");
    if (!helper || !PyObject_HasAttrString(helper.ptr(), "_kill")) return;
    if (pyobj::truthy(helper.attr("is_crashed"))) return;
    helper.attr("_kill")();
}

// parso's in-memory tree of a path: the diff parser changes the cached tree in place, so a tree
// interrupted in the middle would answer later requests for that path. Dropping the entry makes
// the next request parse the file afresh.
void drop_parsed_tree(const Frame& f) {
    py::object grammar = f.local("self"), file_io = f.local("file_io");
    if (!grammar || !file_io) return;
    py::object path = file_io.attr("path");
    if (path.is_none()) return;
    py::object cache = py::module_::import("parso.cache").attr("parser_cache");
    py::object trees = cache.attr("get")(grammar.attr("_hashed"));
    if (!trees.is_none()) trees.attr("pop")(path, py::none());
}

// parso's disk cache: the pickle is written into its final name, so an interrupted write leaves
// a truncated file that every later load fails on.
void remove_cache_file(const Frame& f) {
    py::object hashed = f.local("hashed_grammar"), path = f.local("path"), cache_path = f.local("cache_path");
    if (!hashed || !path) return;
    py::module_ cache = py::module_::import("parso.cache");
    py::object file = cache.attr("_get_hashed_path")(hashed, path, py::arg("cache_path") = cache_path);
    pyobj::suppress(PyExc_OSError, [&] { py::module_::import("os").attr("unlink")(file); });
}

// parso's load switches the collector off and on around pickle.load; a stop between the two
// leaves it off. It would have been switched on by the load, whatever the host had.
void enable_collector(const Frame&) {
    py::module_ gc = py::module_::import("gc");
    if (!pyobj::truthy(gc.attr("isenabled")())) gc.attr("enable")();
}

// Where the stop struck (a frame of this file and function on its way out) -> what to undo.
struct Rule {
    const char* file;
    const char* function;
    Undo undo;
};

constexpr Rule kRules[] = {
    {"/jedi/inference/compiled/subprocess/__init__.py", "_send", kill_helper_process},
    {"/jedi/inference/compiled/subprocess/__init__.py", "_get_process", kill_helper_process},
    {"/parso/grammar.py", "parse", drop_parsed_tree},
    {"/parso/cache.py", "_save_to_file_system", remove_cache_file},
    {"/parso/cache.py", "_load_from_file_system", enable_collector},
};

bool ends_with(py::handle text, const char* suffix) {
    std::string s = py::str(text);
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

Frame frame_of(py::handle tb) {
    py::object frame = tb.attr("tb_frame");
    py::object code = frame.attr("f_code");
    return {code.attr("co_filename"), code.attr("co_name"), frame.attr("f_locals")};
}

void report(const char* what) {
    // The clean-up's own failure: to sys.unraisablehook, as a finalizer's would go.
    PyErr_WriteUnraisable(py::str(what).ptr());
}

}  // namespace

void undo(py::handle trace) {
    py::object tb = py::reinterpret_borrow<py::object>(trace);
    while (tb && !tb.is_none()) {
        pyobj::except_exception(
            [&] {
                Frame f = frame_of(tb);
                if (!PyDict_Check(f.locals.ptr())) return;
                for (const Rule& rule : kRules) {
                    if (pyobj::equals(f.function, py::str(rule.function)) && ends_with(f.file, rule.file)) {
                        rule.undo(f);
                    }
                }
            },
            [&](py::error_already_set& e) {
                e.restore();
                report("lsp_bridge: clean-up after a stopped request");
            });
        py::object next;
        pyobj::suppress(PyExc_Exception, [&] { next = tb.attr("tb_next"); });
        tb = next;
    }
}

}  // namespace stop_cleanup
}  // namespace workspace
