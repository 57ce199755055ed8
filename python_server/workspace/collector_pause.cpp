#include "workspace/collector_pause.h"

#include "pyobj/calls.h"
#include "pyobj/errors.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace workspace {

namespace {

// Requests running now, on every thread; read and changed only with the GIL held.
Py_ssize_t g_depth = 0;
// The outermost pause switched the collector off, so the last request out switches it back on.
bool g_paused_by_us = false;
// The collector's first threshold when the pause began. It is set to 0 for the pause as well:
// parso calls gc.enable() after every cache file it unpickles, and a threshold of 0 keeps the
// collector from running even then.
long g_threshold0 = 0;
// This thread's part of g_depth: after a fork only the forking thread is left in the child.
thread_local Py_ssize_t t_depth = 0;

// Runs `body` with the gc module. Never throws: a failure is reported as unraisable
// (sys.unraisablehook), and an error indicator already set is kept.
template <class Body>
void with_gc(Body&& body) noexcept {
    static pyobj::Name gc_name("gc");
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    try {
        py::object gc = py::reinterpret_steal<py::object>(PyImport_GetModule(gc_name.get()));
        if (!gc) gc = pyobj::steal(PyImport_Import(gc_name.get()));
        body(gc);
    } catch (...) {
        pyobj::set_error_from_current_exception();
        PyErr_WriteUnraisable(nullptr);
    }
    PyErr_Restore(type, value, traceback);
}

// gc.set_threshold(threshold0, *gc.get_threshold()[1:])
void set_threshold0(py::handle gc, long threshold0) {
    static pyobj::Name get_threshold("get_threshold"), set_threshold("set_threshold");
    py::tuple now = pyobj::call_method(gc, get_threshold);
    pyobj::call_method(gc, set_threshold, py::int_(threshold0), now[1], now[2]);
}

void pause(py::handle gc) {
    static pyobj::Name isenabled("isenabled"), disable("disable"), get_threshold("get_threshold");
    if (!pyobj::truthy(pyobj::call_method(gc, isenabled))) return;
    long threshold0 = py::int_(pyobj::call_method(gc, get_threshold)[py::int_(0)]);
    pyobj::call_method(gc, disable);
    g_paused_by_us = true;
    g_threshold0 = threshold0;
    set_threshold0(gc, 0);
}

void resume(py::handle gc) {
    static pyobj::Name enable("enable");
    g_paused_by_us = false;
    set_threshold0(gc, g_threshold0);
    pyobj::call_method(gc, enable);
}

// A child forked while other threads were in requests would keep their depth, and so the
// collector off, for good: the child starts from the forking thread's own depth.
PyObject* after_fork_in_child(PyObject*, PyObject*) {
    g_depth = t_depth;
    if (g_depth == 0 && g_paused_by_us) with_gc(resume);
    Py_RETURN_NONE;
}

PyMethodDef after_fork_def = {"_lsp_bridge_collector_after_fork", after_fork_in_child, METH_NOARGS, nullptr};

// os.register_at_fork(after_in_child=...), once per process; without it only a fork made
// mid-request is affected, so a failure is reported and the requests go on.
void register_fork_hook() noexcept {
    static bool registered = false;
    if (registered) return;
    registered = true;
    try {
        py::object hook = pyobj::steal(PyCFunction_New(&after_fork_def, nullptr));
        pyobj::steal(PyImport_ImportModule("os")).attr("register_at_fork")(py::arg("after_in_child") = hook);
    } catch (...) {
        pyobj::set_error_from_current_exception();
        PyErr_WriteUnraisable(nullptr);
    }
}

}  // namespace

CollectorPause::CollectorPause() {
    ++t_depth;
    if (g_depth++ > 0) return;
    register_fork_hook();
    with_gc(pause);
}

CollectorPause::~CollectorPause() {
    --t_depth;
    if (--g_depth > 0 || !g_paused_by_us) return;
    with_gc(resume);
}

}  // namespace workspace
