#include "runtime/stop_watchdog.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "pyobj/gil.h"
#include "pyobj/names.h"
#include "runtime/stop_rules.h"

namespace runtime {
namespace watchdog {

namespace {

using std::chrono::milliseconds;

// A stop refused at an unsafe place is tried again this soon.
constexpr milliseconds kDeferRetry{2};
// A target past its deadline but not armed (in its own bookkeeping) is looked at again this soon;
// an arm after the deadline raises the stop by itself, so this only bounds a missed wake-up.
constexpr milliseconds kUnarmedRetry{50};
// A stop that was raised and yet the thread is still armed this much later was taken by a bare
// `except:` or by a finalizer that reports and drops it: raise it again.
constexpr milliseconds kRefire{200};
// A thread start takes microseconds: a state that shadows the request thread's id longer than
// this belongs to a thread that never started.
constexpr milliseconds kShadowLimit{100};

// Everything is guarded by `mutex`; `fired` and firing need the GIL too. A child made by fork()
// gets a fresh State (process_state.h).
struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<StopTarget*> targets;
    BudgetClock::time_point task_at = BudgetClock::time_point::max();
    void (*task)() noexcept = nullptr;
    bool started = false;   // the thread runs (or ran)
    bool stopping = false;  // end() asked it to end
    bool done = false;      // it ended and will not touch Python again
};

State* g_state = nullptr;
// end() ran: no watchdog again in this process.
bool g_finished = false;
// stop_every_request() ran.
std::atomic<bool> g_exiting{false};

State* state() {
    if (!g_state) g_state = new State;  // under the GIL; never freed: a daemon thread may use it at exit
    return g_state;
}

// The first thread state in the interpreter's list with the thread's id: the one
// PyThreadState_SetAsyncExc reaches. While a thread the request thread started has not run yet,
// its state (put first in the list) carries the starter's id; a stop raised then would land in
// the new thread and end it before Thread.start() saw it begin, leaving the request waiting
// there for ever, holding the jedi lock. A new thread writes its own id as it begins, within
// microseconds. Only threads holding the GIL add states with this id, and they are not running.
PyThreadState* first_with_id(PyThreadState* own, unsigned long thread_id) {
    PyInterpreterState* interp = PyThreadState_GetInterpreter(own);
    for (PyThreadState* t = PyInterpreterState_ThreadHead(interp); t; t = PyThreadState_Next(t)) {
        if (t->thread_id == thread_id) return t;
    }
    return nullptr;
}

// Under the GIL: the stop pending in the request thread's own state, and only there. A state that
// never gets its own id (CPython leaves the state of a thread that failed to start in the list)
// would hold the stop off for ever; past kShadowLimit the stop is put in the own state directly,
// and the interpreter told of it by a withdrawal (NULL) addressed to the id, which reaches the
// shadowing state, whose own pending exception it clears (a state nobody else can address).
bool raise_in_own_state(StopTarget& t, BudgetClock::time_point now) {
    PyThreadState* own = t.thread_state;
    if (own->async_exc == stop_type()) return true;  // raised before and still pending (a long C call)
    if (own->async_exc) return false;  // the host's own is pending: it strikes first
    if (first_with_id(own, t.thread_id) == own) {
        t.shadowed_since = {};
        return PyThreadState_SetAsyncExc(t.thread_id, stop_type()) == 1;
    }
    if (t.shadowed_since == BudgetClock::time_point{}) t.shadowed_since = now;
    if (now - t.shadowed_since < kShadowLimit) return false;
    if (PyThreadState_SetAsyncExc(t.thread_id, nullptr) != 1) return false;
    own->async_exc = py::reinterpret_borrow<py::object>(stop_type()).release().ptr();
    return true;
}

// Under the GIL and the mutex: raise the stop in every due, armed target at a safe place.
void fire_due(State& st, BudgetClock::time_point now) {
    for (StopTarget* t : st.targets) {
        if (now < t->next_try) continue;
        if (!t->armed.load(std::memory_order_relaxed)) {
            t->next_try = now + kUnarmedRetry;
            continue;
        }
        if (stop_rules::unsafe(t->thread_state, t->base_depth) || !raise_in_own_state(*t, now)) {
            t->next_try = now + kDeferRetry;
            continue;
        }
        t->fired = true;
        if (py::object helper = stop_rules::on_fired(t->thread_state, t->base_depth)) {
            try {
                t->killed_helpers.push_back(std::move(helper));
            } catch (const std::bad_alloc&) {
                // Unrecorded, it is still marked crashed if the stop unwinds through jedi's _send.
            }
        }
        t->next_try = now + kRefire;
    }
}

bool any_due(const State& st, BudgetClock::time_point now, BudgetClock::time_point& next) {
    next = st.task_at;
    bool due = st.task_at <= now;
    for (const StopTarget* t : st.targets) {
        if (t->next_try <= now) due = true;
        next = std::min(next, t->next_try);
    }
    return due;
}

void run(State* st) noexcept {
    std::unique_lock<std::mutex> lock(st->mutex);
    while (!st->stopping) {
        BudgetClock::time_point now = BudgetClock::now(), next;
        if (!any_due(*st, now, next)) {
            if (next == BudgetClock::time_point::max()) {
                st->cv.wait(lock);
            } else {
                st->cv.wait_until(lock, next);
            }
            continue;
        }
        void (*task)() noexcept = nullptr;
        if (st->task_at <= now) {
            task = st->task;
            st->task_at = BudgetClock::time_point::max();
        }
        // The GIL before the mutex, as the request threads take them.
        lock.unlock();
        PyGILState_STATE gil = pyobj::ensure_gil();
        if (task) task();  // without the mutex: it may set the next task
        lock.lock();
        if (!st->stopping) {
            py::error_scope clean;  // this thread's own error state stays as it was
            fire_due(*st, BudgetClock::now());
        }
        lock.unlock();
        PyGILState_Release(gil);
        lock.lock();
    }
    st->done = true;
    st->cv.notify_all();
}

// Under the mutex.
void start_if_needed(State& st) {
    if (st.started || g_finished) return;
    try {
        std::thread(run, &st).detach();
        st.started = true;
    } catch (const std::system_error&) {
    }
}

// Bytecode that does nothing: run in the request's thread, it takes delivery of a pending stop.
// Made by the first add(), kept for the life of the process, like the stop's class.
PyObject* g_noop_code = nullptr;

}  // namespace

PyObject* stop_type() {
    static PyObject* type = nullptr;  // kept for the life of the process, like pyobj::Name
    if (!type) {
        py::object made = pyobj::steal(PyErr_NewExceptionWithDoc(
            "lsp_bridge.RequestOutOfTime", "A request ran past its time budget.", PyExc_BaseException, nullptr));
        type = made.release().ptr();
    }
    return type;
}

void add(StopTarget* target) {
    stop_type();  // made here, under the GIL, before the watchdog or a withdrawal may need them
    if (!g_noop_code) {
        g_noop_code = pyobj::steal(Py_CompileString("None", "<lsp_bridge: stop withdrawn>", Py_eval_input)).release().ptr();
    }
    State* st = state();
    std::lock_guard<std::mutex> lock(st->mutex);
    target->next_try = g_exiting.load() ? BudgetClock::now() : target->deadline;
    st->targets.push_back(target);
    start_if_needed(*st);
    st->cv.notify_all();
}

void withdraw(StopTarget& target) {
    PyThreadState* own = target.thread_state;
    if (own->async_exc != stop_type()) return;  // delivered already, or none of ours
    {
        py::error_scope kept;  // the error in flight, if any, stays as it was
        py::object globals = py::reinterpret_steal<py::object>(PyDict_New());
        py::object result;
        if (globals) result = py::reinterpret_steal<py::object>(PyEval_EvalCode(g_noop_code, globals.ptr(), globals.ptr()));
        if (!result && PyErr_ExceptionMatches(stop_type())) {
            PyErr_Clear();
        } else if (!result && PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) {
            PyErr_Clear();  // a Ctrl-C whose handler ran first: tripped again for the next bytecode
            PyErr_SetInterrupt();
        } else if (!result) {
            PyErr_WriteUnraisable(nullptr);  // another signal handler's error, raised first
        }
    }
    if (own->async_exc != stop_type()) return;
    // Not delivered (a signal handler's error came first): taken back by hand, the flag left set.
    py::object pending = py::reinterpret_steal<py::object>(own->async_exc);
    own->async_exc = nullptr;
}

void remove(StopTarget* target) {
    State* st = g_state;
    if (!st) return;  // a fresh child's state not made yet: nothing registered
    std::lock_guard<std::mutex> lock(st->mutex);
    auto it = std::find(st->targets.begin(), st->targets.end(), target);
    if (it != st->targets.end()) st->targets.erase(it);
}

void call_at(BudgetClock::time_point when, void (*task)() noexcept) {
    State* st = state();
    std::lock_guard<std::mutex> lock(st->mutex);
    st->task_at = when;
    st->task = task;
    if (when != BudgetClock::time_point::max()) start_if_needed(*st);
    st->cv.notify_all();
}

bool exiting() { return g_exiting.load(); }

void stop_every_request() {
    State* st = state();
    std::lock_guard<std::mutex> lock(st->mutex);
    g_exiting.store(true);
    for (StopTarget* t : st->targets) t->next_try = BudgetClock::now();
    st->cv.notify_all();
}

// The GIL is released while it waits, so a watchdog waiting for it can finish.
void end() {
    g_finished = true;
    State* st = state();
    pyobj::without_gil([st] {
        std::unique_lock<std::mutex> lock(st->mutex);
        st->stopping = true;
        st->cv.notify_all();
        if (st->started) st->cv.wait(lock, [st] { return st->done; });
    });
}

void after_fork_in_child() noexcept { g_state = new (std::nothrow) State; }

}  // namespace watchdog
}  // namespace runtime
