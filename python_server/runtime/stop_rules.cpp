#include "runtime/stop_rules.h"

#include <frameobject.h>

#include <signal.h>

#include <cstring>
#include <string>
#include <vector>

#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace runtime {
namespace stop_rules {

namespace {

bool ends_with(PyObject* text, const char* suffix) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) {
        PyErr_Clear();  // a file name that cannot be encoded is no place of the tables
        return false;
    }
    size_t n = std::strlen(suffix);
    return static_cast<size_t>(size) >= n && std::memcmp(utf8 + size - n, suffix, n) == 0;
}

// The frame matcher of both tables: a code object whose file name ends with `file` (any file for
// nullptr) and whose function is `function` (any function for nullptr). Runs no Python code.
bool at(PyCodeObject* code, const char* file, const char* function) {
    if (function && PyUnicode_CompareWithASCIIString(code->co_name, function) != 0) return false;
    return !file || ends_with(code->co_filename, file);
}

// Where no stop may strike.
struct Place {
    const char* file;
    const char* function;
    const char* why;
};

constexpr Place kPlaces[] = {
    // Module locks and half-initialised modules in sys.modules (jedi's and pyflakes' own lazy
    // imports, importlib.util.find_spec in the import check, which imports parent packages).
    {"<frozen importlib._bootstrap>", nullptr, "import machinery"},
    {"<frozen importlib._bootstrap_external>", nullptr, "import machinery"},
    // A handler's lock taken and not yet released would block every later log call.
    {"/logging/__init__.py", nullptr, "logging locks"},
    // Lock and condition bookkeeping (jedi starts a thread with its helper process).
    {"/threading.py", nullptr, "thread locks"},
    // A child started and not yet recorded.
    {"/subprocess.py", nullptr, "process start"},
    // parso's disk cache: a pickle written straight into its final name, and gc.disable() ...
    // gc.enable() around each load.
    {"/parso/cache.py", "_save_to_file_system", "parser cache file"},
    {"/parso/cache.py", "_load_from_file_system", "parser cache file"},
    // A finalizer reports and drops an exception, so nothing could undo what it interrupted:
    // __del__, and the weakref callbacks of weakref.py (weakref.finalize, which jedi registers to
    // end its helper process, and the weak dictionaries' removals).
    {nullptr, "__del__", "finalizer"},
    {"/weakref.py", nullptr, "weakref callback"},
    {"/_weakrefset.py", nullptr, "weakref callback"},
    // jedi's helper started and not yet registered for its end (the weakref.finalize at the end):
    // a stop between the two would leave the process and its pipes alive until exit.
    {"/jedi/inference/compiled/subprocess/__init__.py", "_get_process", "helper start"},
};

bool no_stop_at(PyCodeObject* code) {
    for (const Place& place : kPlaces) {
        if (at(code, place.file, place.function)) return true;
    }
    return false;
}

// The locals of one frame of the traceback.
struct Frame {
    py::object locals;

    py::object local(const char* name) const {
        PyObject* value = PyDict_GetItemString(locals.ptr(), name);  // borrowed; never raises
        return value ? py::reinterpret_borrow<py::object>(value) : py::object();
    }
};

using Undo = void (*)(const Frame&);

// jedi's helper process: a question sent and its answer not read (or half a question written)
// would give every later request the answer to another question. Killing it marks it crashed;
// jedi's Environment starts a fresh one at its next use.
void end_helper(py::handle helper) {
    if (!PyObject_HasAttrString(helper.ptr(), "_kill")) return;
    if (pyobj::truthy(helper.attr("is_crashed"))) return;
    helper.attr("_kill")();
}

void kill_helper_process(const Frame& f) {
    py::object helper = f.local("self");
    if (helper) end_helper(helper);
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

// The file parso's _save_to_file_system writes, or a null object.
py::object cache_file_of(const Frame& f) {
    py::object hashed = f.local("hashed_grammar"), path = f.local("path"), cache_path = f.local("cache_path");
    if (!hashed || !path) return py::object();
    py::module_ cache = py::module_::import("parso.cache");
    return cache.attr("_get_hashed_path")(hashed, path, py::arg("cache_path") = cache_path);
}

// parso's disk cache: the pickle is written into its final name, so an interrupted write leaves
// a truncated file that every later load fails on.
void remove_cache_file(const Frame& f) {
    py::object file = cache_file_of(f);
    if (!file) return;
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

// A stop is delivered when its thread next runs bytecode. jedi waits for its helper's reply in
// pickle.load (C), a blocking read: for a helper that is starting (an interpreter start and
// jedi's import), 0.3 s. The stop kills that helper anyway (kRules), so it is killed as soon as
// the stop is raised: the read ends at once. Found through the helper's registered clean-up
// (weakref.finalize keeps its arguments, the process first) with dict and slot reads only: no
// Python code runs on the watchdog's thread. Returns the helper it killed, or a null object.
py::object end_helper_wait(py::handle frame) {
    py::object locals = frame.attr("f_locals");
    if (!PyDict_Check(locals.ptr())) return py::object();
    PyObject* helper = PyDict_GetItemString(locals.ptr(), "self");  // borrowed; never raises
    if (!helper || !PyObject_HasAttrString(helper, "_cleanup_callable")) return py::object();
    py::object cleanup = py::reinterpret_borrow<py::object>(helper).attr("_cleanup_callable");
    py::object registry = py::type::handle_of(cleanup).attr("_registry");
    if (!PyDict_Check(registry.ptr())) return py::object();  // a lambda: the helper has no process yet
    PyObject* info = PyDict_GetItemWithError(registry.ptr(), cleanup.ptr());
    if (!info) return py::object();  // ended already (or a lookup error, which the caller clears)
    py::tuple args = py::reinterpret_borrow<py::object>(info).attr("args");
    if (args.size() < 1) return py::object();
    py::object process = args[0];
    if (!process.attr("returncode").is_none()) return py::object();
    long pid = PyLong_AsLong(process.attr("pid").ptr());
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), SIGKILL) != 0) return py::object();
    return py::reinterpret_borrow<py::object>(helper);
}

void report(const char* what) {
    // The clean-up's own failure: to sys.unraisablehook, as a finalizer's would go.
    PyErr_WriteUnraisable(py::str(what).ptr());
}

py::object top_frame(PyThreadState* thread) {
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(PyThreadState_GetFrame(thread)));
}

py::object back(py::handle frame) {
    return py::reinterpret_steal<py::object>(
        reinterpret_cast<PyObject*>(PyFrame_GetBack(reinterpret_cast<PyFrameObject*>(frame.ptr()))));
}

py::object code_of(py::handle frame) {
    return py::reinterpret_steal<py::object>(
        reinterpret_cast<PyObject*>(PyFrame_GetCode(reinterpret_cast<PyFrameObject*>(frame.ptr()))));
}

}  // namespace

int depth(PyThreadState* thread) {
    int n = 0;
    for (py::object frame = top_frame(thread); frame; frame = back(frame)) ++n;
    return n;
}

bool unsafe(PyThreadState* thread, int base_depth) {
    int own = depth(thread) - base_depth;
    py::object frame = top_frame(thread);
    for (int i = 0; frame && i < own; ++i, frame = back(frame)) {
        py::object code = code_of(frame);
        if (no_stop_at(reinterpret_cast<PyCodeObject*>(code.ptr()))) return true;
    }
    return false;
}

py::object on_fired(PyThreadState* thread, int base_depth) {
    if (depth(thread) - base_depth < 2) return py::object();
    py::object killed;
    pyobj::suppress(PyExc_Exception, [&] {
        py::object top = top_frame(thread);
        py::object caller = back(top);
        py::object top_code = code_of(top), caller_code = code_of(caller);
        if (!at(reinterpret_cast<PyCodeObject*>(top_code.ptr()), "/jedi/_compatibility.py", "pickle_load")) return;
        if (!at(reinterpret_cast<PyCodeObject*>(caller_code.ptr()), "/jedi/inference/compiled/subprocess/__init__.py",
                "_send")) {
            return;
        }
        killed = end_helper_wait(caller);
    });
    if (PyErr_Occurred()) PyErr_Clear();
    return killed;
}

void retire_killed_helpers(std::vector<py::object>& helpers) noexcept {
    if (helpers.empty()) return;
    py::error_scope kept;
    for (py::object& helper : helpers) {
        try {
            end_helper(helper);
        } catch (py::error_already_set& e) {
            e.restore();
            if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) {
                PyErr_Clear();
                PyErr_SetInterrupt();  // a Ctrl-C that struck meanwhile: tripped again for the next bytecode
            } else {
                report("lsp_bridge: ending jedi's helper after a stop");
            }
        } catch (...) {
            pyobj::set_error_from_current_exception();
            report("lsp_bridge: ending jedi's helper after a stop");
        }
    }
    helpers.clear();
}

void undo(py::handle trace) {
    py::object tb = py::reinterpret_borrow<py::object>(trace);
    while (tb && !tb.is_none()) {
        pyobj::except_exception(
            [&] {
                py::object frame = tb.attr("tb_frame");
                py::object code = code_of(frame);
                Frame f{frame.attr("f_locals")};
                if (!PyDict_Check(f.locals.ptr())) return;
                for (const Rule& rule : kRules) {
                    if (at(reinterpret_cast<PyCodeObject*>(code.ptr()), rule.file, rule.function)) rule.undo(f);
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

std::vector<std::string> remove_files_being_written() {
    std::vector<std::string> removed;
    PyInterpreterState* interp = PyThreadState_GetInterpreter(PyThreadState_Get());
    for (PyThreadState* t = PyInterpreterState_ThreadHead(interp); t; t = PyThreadState_Next(t)) {
        for (py::object frame = top_frame(t); frame; frame = back(frame)) {
            py::object code = code_of(frame);
            if (!at(reinterpret_cast<PyCodeObject*>(code.ptr()), "/parso/cache.py", "_save_to_file_system")) continue;
            pyobj::except_exception(
                [&] {
                    Frame f{frame.attr("f_locals")};
                    py::object file = PyDict_Check(f.locals.ptr()) ? cache_file_of(f) : py::object();
                    if (!file) return;
                    py::bytes name = py::module_::import("os").attr("fsencode")(file);
                    removed.emplace_back(name);
                    pyobj::suppress(PyExc_OSError, [&] { py::module_::import("os").attr("unlink")(file); });
                },
                [&](py::error_already_set& e) {
                    e.restore();
                    report("lsp_bridge: removing a parser cache file at exit");
                });
        }
    }
    return removed;
}

}  // namespace stop_rules
}  // namespace runtime
