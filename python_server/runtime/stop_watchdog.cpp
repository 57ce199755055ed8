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

PyThreadState* thread_state_of(unsigned long thread_id) {
    PyInterpreterState* interp = PyThreadState_GetInterpreter(PyThreadState_Get());
    for (PyThreadState* t = PyInterpreterState_ThreadHead(interp); t; t = PyThreadState_Next(t)) {
        if (t->thread_id == thread_id) return t;
    }
    return nullptr;
}

// Under the GIL and the mutex: raise the stop in every due, armed target at a safe place.
void fire_due(State& st, BudgetClock::time_point now) {
    for (StopTarget* t : st.targets) {
        if (now < t->next_try) continue;
        if (!t->armed.load(std::memory_order_relaxed)) {
            t->next_try = now + kUnarmedRetry;
            continue;
        }
        PyThreadState* ts = thread_state_of(t->thread_id);
        if (!ts || stop_rules::unsafe(ts, t->base_depth)) {
            t->next_try = now + kDeferRetry;
            continue;
        }
        if (PyThreadState_SetAsyncExc(t->thread_id, stop_type()) == 1) t->fired = true;
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
    stop_type();  // made here, under the GIL, before the watchdog may need it
    State* st = state();
    std::lock_guard<std::mutex> lock(st->mutex);
    target->next_try = g_exiting.load() ? BudgetClock::now() : target->deadline;
    st->targets.push_back(target);
    start_if_needed(*st);
    st->cv.notify_all();
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
