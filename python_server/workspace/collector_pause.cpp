#include "workspace/collector_pause.h"

namespace workspace {

namespace {

// Requests running now, on every thread; read and changed only with the GIL held.
Py_ssize_t g_depth = 0;
// The outermost pause switched the collector off, so the last request out switches it back on.
bool g_paused_by_us = false;
// This thread's part of g_depth: after a fork only the forking thread is left in the child.
thread_local Py_ssize_t t_depth = 0;

// gc.<name>() and the truth of its result. Never throws: a failure is reported as unraisable
// (sys.unraisablehook) and gives false, and an error indicator already set is kept.
bool gc_call(const char* name) noexcept {
    static pyobj::Name gc_name("gc");
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    bool truth = false;
    try {
        py::object gc = py::reinterpret_steal<py::object>(PyImport_GetModule(gc_name.get()));
        if (!gc) gc = pyobj::steal(PyImport_Import(gc_name.get()));
        truth = pyobj::truthy(gc.attr(name)());
    } catch (...) {
        pyobj::set_error_from_current_exception();
        PyErr_WriteUnraisable(nullptr);
    }
    PyErr_Restore(type, value, traceback);
    return truth;
}

// A child forked while other threads were in requests would keep their depth, and so the
// collector off, for good: the child starts from the forking thread's own depth.
PyObject* after_fork_in_child(PyObject*, PyObject*) {
    g_depth = t_depth;
    if (g_depth == 0 && g_paused_by_us) {
        g_paused_by_us = false;
        gc_call("enable");
    }
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
    if (gc_call("isenabled")) {
        gc_call("disable");
        g_paused_by_us = true;
    }
}

CollectorPause::~CollectorPause() {
    --t_depth;
    if (--g_depth > 0 || !g_paused_by_us) return;
    g_paused_by_us = false;
    gc_call("enable");
}

}  // namespace workspace
