#include "runtime/collector_pause.h"

#include <chrono>

#include "pyobj/calls.h"
#include "pyobj/errors.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"
#include "runtime/stop_watchdog.h"

namespace runtime {

namespace {

using Clock = BudgetClock;

// Paused time after which the pause is lifted for a moment while requests run on (by the next
// boundary or by the watchdog's thread, whichever comes first): the host's garbage waits about
// this long for its collection, however long one request runs.
constexpr Clock::duration kLiftAfter = std::chrono::milliseconds(500);

struct Thresholds {
    long first, second, third;
    bool operator==(const Thresholds& o) const {
        return first == o.first && second == o.second && third == o.third;
    }
};

// All of it is read and changed only with the GIL held.
// Requests running now, on every thread.
Py_ssize_t g_depth = 0;
// The pause is in force: the thresholds were set to `g_set`, and the host is owed `g_host_first`.
bool g_paused = false;
Thresholds g_set{};
long g_host_first = 0;
// When the pause in force began: right after CPython last had its chance to collect.
Clock::time_point g_paused_at{};
// One thread is at work on the collector; a collection it sets off runs finalizers and callbacks,
// which may switch threads, so the boundaries of other requests meanwhile only count, and the
// busy thread settles again with the depth as it finds it.
bool g_busy = false;
// This thread's part of g_depth, and whether it is the busy one: after a fork only the forking
// thread is left in the child.
thread_local Py_ssize_t t_depth = 0;
thread_local bool t_busy = false;

class Busy {
public:
    Busy() { g_busy = t_busy = true; }
    ~Busy() { g_busy = t_busy = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
};

long to_long(py::handle value) { return pyobj::check_value(PyLong_AsLong(value.ptr()), -1L); }

Thresholds get_thresholds(py::handle gc) {
    py::tuple now = pyobj::call_method(gc, PYOBJ_NAME("get_threshold"));
    return {to_long(now[0]), to_long(now[1]), to_long(now[2])};
}

void set_thresholds(py::handle gc, const Thresholds& t) {
    pyobj::call_method(gc, PYOBJ_NAME("set_threshold"), py::int_(t.first), py::int_(t.second), py::int_(t.third));
}

bool overdue() { return g_paused && Clock::now() - g_paused_at >= kLiftAfter; }

void settle_now() noexcept;

// A first threshold of 0 stops automatic collection whatever the switch says; gc.disable() would
// be undone by parso's gc.enable() and would hide the host's own use of the switch.
void begin(py::handle gc) {
    if (!pyobj::truthy(pyobj::call_method(gc, PYOBJ_NAME("isenabled")))) return;
    Thresholds host = get_thresholds(gc);
    if (host.first == 0) return;
    Thresholds set{0, host.second, host.third};
    set_thresholds(gc, set);
    g_paused = true;
    g_set = set;
    g_host_first = host.first;
    g_paused_at = Clock::now();
    watchdog::call_at(g_paused_at + kLiftAfter, settle_now);
}

// Thresholds other than the ones the pause set are the host's own setting, and stand.
void end(py::handle gc) {
    g_paused = false;
    watchdog::call_at(Clock::time_point::max(), settle_now);
    Thresholds now = get_thresholds(gc);
    if (now == g_set) set_thresholds(gc, {g_host_first, now.second, now.third});
}

// One GC-tracked allocation with the host's thresholds in force: CPython runs the collection its
// own policy has due (its choice of generation, its callbacks), as it would at the host's next
// allocation. A set, because lists, tuples and dicts may come from free lists, which bypass the
// collector's count.
void let_collect() { pyobj::steal(PySet_New(nullptr)); }

// Brings the collector in line with the requests running now. Each pause starts with CPython's
// chance to collect: requests back to back on one thread would otherwise never leave the host an
// allocation with its threshold in force. Cheap when nothing is due, and what is due then is the
// earlier requests' garbage, not this one's objects in use.
void settle(py::handle gc) {
    Busy busy;
    if (g_depth > 0 && (!g_paused || overdue())) {
        if (g_paused) end(gc);
        let_collect();
        if (g_depth > 0) begin(gc);
    }
    if (g_depth == 0 && g_paused) end(gc);
}

// Nothing to do at a boundary: the common case of a request inside a pause still young.
bool in_line() { return g_depth > 0 ? g_paused && !overdue() : !g_paused; }

// Runs `settle` with the gc module, unless another thread is at it: at a boundary, and on the
// watchdog's thread when a pause reaches kLiftAfter. Never throws: a failure is reported as
// unraisable (sys.unraisablehook), and an error indicator already set is kept aside meanwhile (a
// collection does not start while one is set) and restored.
void settle_now() noexcept {
    // Without the GIL only on the way out of a thread the finalizing interpreter is ending.
    if (g_busy || in_line() || (_Py_IsFinalizing() && !PyGILState_Check())) return;
    py::error_scope kept;
    try {
        settle(pyobj::import(PYOBJ_NAME("gc")));
    } catch (...) {
        pyobj::set_error_from_current_exception();
        PyErr_WriteUnraisable(nullptr);
    }
}

}  // namespace

void collector_after_fork_in_child() noexcept {
    g_depth = t_depth;
    g_busy = t_busy;
    settle_now();
}

CollectorPause::CollectorPause() {
    ++t_depth;
    ++g_depth;
    settle_now();
}

CollectorPause::~CollectorPause() {
    --t_depth;
    --g_depth;
    settle_now();
}

}  // namespace runtime
