#include "runtime/process_state.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "boundary/binder.h"
#include "pyobj/errors.h"
#include "pyobj/gil.h"
#include "runtime/collector_pause.h"
#include "runtime/jedi_lock.h"
#include "runtime/stop_rules.h"
#include "runtime/stop_watchdog.h"

namespace runtime {
namespace process {

namespace {

// How long the exit waits for stopped requests to leave. A stop lands at the next bytecode,
// outside the short places where it waits (stop_rules.cpp); what it cannot interrupt is one C
// call: ast.parse or compile of a large file (about 1 s for 2 MB) or one answer of jedi's helper.
constexpr std::chrono::milliseconds kExitWait{3000};
constexpr std::chrono::milliseconds kExitPoll{2};

// Parser cache files being written when the exit's wait ended: removed again at the very end.
std::vector<std::string>* g_unfinished_files = nullptr;

void in_child_after_fork() noexcept {
    boundary::calls_after_fork_in_child();
    fresh_jedi_lock_in_child();
    watchdog::after_fork_in_child();
}

PyObject* in_python_child_after_fork(PyObject*, PyObject*) noexcept {
    collector_after_fork_in_child();
    Py_RETURN_NONE;
}

// With the GIL held: true once no method runs, false when kExitWait has passed.
bool wait_for_methods() {
    auto until = std::chrono::steady_clock::now() + kExitWait;
    while (boundary::calls_running() > 0) {
        if (std::chrono::steady_clock::now() >= until) return false;
        pyobj::without_gil([] { std::this_thread::sleep_for(kExitPoll); });
    }
    return true;
}

// After Py_FinalizeEx: no thread runs Python any more, so none can write on. Plain C only.
void remove_unfinished_files() {
    if (!g_unfinished_files) return;
    for (const std::string& name : *g_unfinished_files) ::unlink(name.c_str());
}

PyObject* at_exit(PyObject*, PyObject*) noexcept {
    try {
        watchdog::stop_every_request();
        bool all_left = wait_for_methods();
        boundary::close_to_other_threads();
        if (!all_left) {
            g_unfinished_files = new std::vector<std::string>(stop_rules::remove_files_being_written());
        }
        watchdog::end();
    } catch (...) {
        pyobj::set_error_from_current_exception();
        PyErr_WriteUnraisable(nullptr);
    }
    Py_RETURN_NONE;
}

PyMethodDef g_exit_def = {"_lsp_bridge_at_exit", at_exit, METH_NOARGS, nullptr};
PyMethodDef g_fork_def = {"_lsp_bridge_after_fork_in_child", in_python_child_after_fork, METH_NOARGS, nullptr};

void reported(const char* what, void (*step)()) {
    try {
        step();
    } catch (...) {
        pyobj::set_error_from_current_exception();
        PyErr_WriteUnraisable(py::str(what).ptr());
    }
}

}  // namespace

void install() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    make_jedi_lock();
    watchdog::stop_type();
    pthread_atfork(nullptr, nullptr, in_child_after_fork);
    reported("lsp_bridge: registering the fork hook", [] {
        py::object hook = pyobj::steal(PyCFunction_New(&g_fork_def, nullptr));
        pyobj::steal(PyImport_ImportModule("os")).attr("register_at_fork")(py::arg("after_in_child") = hook);
    });
    reported("lsp_bridge: registering the exit hook", [] {
        // weakref.finalize runs its finalizers from one exit function, registered with the first
        // finalize made in the process; jedi's helper process and the bridge's sync folder are
        // removed there. Exit functions run last registered first, so that one is registered now
        // (a finalize made and detached at once), before ours: requests are stopped while both
        // still exist, instead of failing on a helper killed under them and starting another.
        py::object weakref = pyobj::steal(PyImport_ImportModule("weakref"));
        weakref.attr("finalize")(weakref.attr("finalize"), py::module_::import("builtins").attr("int")).attr("detach")();
        py::object hook = pyobj::steal(PyCFunction_New(&g_exit_def, nullptr));
        pyobj::steal(PyImport_ImportModule("atexit")).attr("register")(hook);
    });
    Py_AtExit(remove_unfinished_files);
}

}  // namespace process
}  // namespace runtime
