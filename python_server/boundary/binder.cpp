#include "boundary/binder.h"

#include <atomic>

#include "pyobj/globals.h"
#include "pyobj/ops.h"

namespace boundary {

namespace {

// Two sentences: what is refused, and the build setting that admits it.
constexpr const char* kSubclassNote =
    "Subclasses of built-in types are refused here; pass an exact str, dict or list. "
    "Configure the build with -DLSP_BRIDGE_ACCEPT_SUBCLASSES=ON to admit them.";

#ifdef LSP_BRIDGE_ACCEPT_SUBCLASSES
constexpr bool kAcceptSubclasses = true;
#else
constexpr bool kAcceptSubclasses = false;
#endif

bool has_type(PyObject* obj, PyTypeObject* type) {
    return Py_TYPE(obj) == type || (kAcceptSubclasses && PyObject_TypeCheck(obj, type));
}

int required_count(const MethodSpec& spec) {
    int r = 0;
    while (r < spec.nparams && !spec.params[r].defaults_to_none) ++r;
    return r;
}

PyObject* arity_error(const MethodSpec& spec, const char* word, Py_ssize_t expected, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 spec.call_name(), word, expected, expected == 1 ? "" : "s", given);
    return nullptr;
}

// A number: its type converts to int, float or index, or it is complex (a str is no number).
bool is_number(PyObject* obj) {
    PyNumberMethods* nb = Py_TYPE(obj)->tp_as_number;
    if (nb && (nb->nb_int || nb->nb_float || nb->nb_index)) return true;
    return PyComplex_Check(obj);
}

// The refusal of a value of the wrong type; a subclass the build refuses gets the note.
PyObject* type_error(const Param& p, PyObject* obj, PyTypeObject* expected) {
    bool subclass = PyObject_TypeCheck(obj, expected);
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)%s%s",
                 p.name, expected->tp_name, Py_TYPE(obj)->tp_name, subclass ? ". " : "", subclass ? kSubclassNote : "");
    return nullptr;
}

// Keyword name equality: by text for str, by == for a str subclass.
int same_name(PyObject* key, PyObject* name) {
    if (key == name) return 1;
    if (PyUnicode_CheckExact(key)) return PyUnicode_Compare(key, name) == 0 ? 1 : (PyErr_Occurred() ? -1 : 0);
    return PyObject_RichCompareBool(key, name, Py_EQ);
}

// Bodies running now, on every thread (changed under the GIL, read without it by the exit wait),
// and this thread's share of them: after a fork only the forking thread is left in the child.
std::atomic<long> g_running{0};
thread_local long t_running = 0;
// Set by close_to_other_threads(): the one thread whose calls still run.
std::atomic<bool> g_closed{false};
unsigned long g_open_thread = 0;

// Runs the C++ body and turns whatever it throws into a raised Python exception.
PyObject* run_body(const MethodSpec& spec, PyObject* globals, PyObject* const* bound) noexcept {
    if (g_closed.load() && PyThread_get_thread_ident() != g_open_thread) {
        PyErr_SetString(PyExc_RuntimeError, "lsp_bridge: the interpreter is exiting");
        return nullptr;
    }
    struct Running {
        Running() { ++g_running, ++t_running; }
        ~Running() { --g_running, --t_running; }
    } running;
    try {
        pyobj::GlobalsScope scope(globals);
        py::object result = spec.body(bound);
        if (spec.check_str_return) pyobj::require_str_result(result, kAcceptSubclasses);
        return result.release().ptr();
    } catch (...) {
        pyobj::set_error_from_current_exception();
        return nullptr;
    }
}

}  // namespace

long calls_running() { return g_running.load(); }

void calls_after_fork_in_child() noexcept { g_running.store(t_running); }

void close_to_other_threads() {
    g_open_thread = PyThread_get_thread_ident();
    g_closed.store(true);
}

PyObject* bind_and_call(const MethodSpec& spec, PyObject* const* param_names, PyObject* globals,
                        PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const int n = spec.nparams;
    const int r = required_count(spec);
    const bool has_defaults = r < n;
    if (nargs > n) return arity_error(spec, has_defaults ? "at most" : "exactly", n, nargs);

    PyObject* bound[kMaxParams] = {};
    for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = args[i];

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0) {
        if (nargs < r) return arity_error(spec, has_defaults ? "at least" : "exactly", r, nargs);
    } else {
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            if (!PyUnicode_Check(key)) {
                PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", spec.call_name());
                return nullptr;
            }
            int found = -1;
            for (int i = 0; i < n && found < 0; ++i) {
                int same = same_name(key, param_names[i]);
                if (same < 0) return nullptr;
                if (same) found = i;
            }
            if (found < 0) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", spec.call_name(), key);
                return nullptr;
            }
            if (bound[found]) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", spec.call_name(), key);
                return nullptr;
            }
            bound[found] = args[nargs + k];
        }
        for (int i = static_cast<int>(nargs); i < r; ++i) {
            if (!bound[i]) return arity_error(spec, has_defaults ? "at least" : "exactly", r, i);
        }
    }
    for (int i = r; i < n; ++i) {
        if (!bound[i]) bound[i] = Py_None;
    }

    // int() of every non-int number first, then the exact-type checks, so the refusal names the
    // first wrong int parameter before any other.
    py::object converted[kMaxParams];
    for (int i = 0; i < n; ++i) {
        const Param& p = spec.params[i];
        if (p.kind != Kind::Int || PyLong_CheckExact(bound[i])) continue;
        if (!is_number(bound[i])) return type_error(p, bound[i], &PyLong_Type);  // an int subclass is a number
        converted[i] = py::reinterpret_steal<py::object>(PyNumber_Long(bound[i]));
        if (!converted[i]) return nullptr;
        bound[i] = converted[i].ptr();
    }
    for (int i = 0; i < n; ++i) {
        const Param& p = spec.params[i];
        PyTypeObject* type = kind_row(p.kind).type;
        if (!type || p.kind == Kind::Int) continue;
        if (bound[i] == Py_None && p.defaults_to_none) continue;
        if (!has_type(bound[i], type)) return type_error(p, bound[i], type);
    }
    return run_body(spec, globals, bound);
}

}  // namespace boundary
