#include "runtime/request_budget.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "pyobj/log.h"
#include "runtime/stop_rules.h"

namespace runtime {

namespace {

// Measured (README, "Request budget"): the slowest ordinary request, the first completion of a
// fresh process with an empty jedi cache, takes about 3 s on two busy cores; five times that
// leaves room for a machine under load and stops only work that is not ordinary.
constexpr double kDefaultSeconds = 15.0;
// Above this the value is surely a mistake (a budget of days stops nothing anyway).
constexpr double kMaxSeconds = 1e6;

// This thread's request: the outermost one owns the budget.
thread_local bool t_in_request = false;
thread_local StopTarget* t_target = nullptr;  // the owner's registration, while it has a budget

std::atomic<bool> g_warned{false};

// One warning per process for a value that is no budget; the request then uses the default.
void warn_once(const char* value, const char* reason) {
    if (g_warned.exchange(true)) return;
    // A logger that fails costs only the warning.
    pyobj::suppress(PyExc_Exception, [&] {
        py::object text = pyobj::steal(PyUnicode_DecodeFSDefault(value));
        pyobj::warning(PYOBJ_NAME("[LSP] Ignoring LSP_BRIDGE_REQUEST_BUDGET=%r (%s); using the default of %s s"),
                       text, py::str(reason), py::float_(kDefaultSeconds));
    });
}

// LSP_BRIDGE_REQUEST_BUDGET read now: os.environ writes through to the C environment, so what
// the host set there is seen; getenv runs no Python code, so reading it changes no call order.
// Unset or empty: the default. 0: no budget.
double budget_seconds() {
    const char* value = std::getenv("LSP_BRIDGE_REQUEST_BUDGET");
    if (!value || !*value) return kDefaultSeconds;
    char* end = nullptr;
    double seconds = PyOS_string_to_double(value, &end, nullptr);
    if (PyErr_Occurred()) PyErr_Clear();  // no number at all: judged below like any other text
    while (end && *end && std::isspace(static_cast<unsigned char>(*end))) ++end;
    const char* reason = nullptr;
    if (!end || end == value || *end) {
        reason = "not a number";
    } else if (std::isnan(seconds) || std::isinf(seconds)) {
        reason = "not a finite number";
    } else if (seconds < 0) {
        reason = "negative";
    } else if (seconds > kMaxSeconds) {
        reason = "more than 1e6 seconds";
    }
    if (!reason) return seconds;
    warn_once(value, reason);
    return kDefaultSeconds;
}

py::str budget_text(double seconds) {
    char text[96];
    std::snprintf(text, sizeof text, "Request ran out of time (budget: %g s)", seconds);
    return py::str(text);
}

// Under the GIL: the thread is stoppable or not; a stop raised for it and not yet delivered is
// withdrawn when it stops being stoppable, so none can strike after the section, and a helper
// the stop killed is never handed to a later request.
void set_armed(StopTarget* t, bool armed) {
    t->armed.store(armed, std::memory_order_relaxed);
    if (!armed && t->fired) {
        t->fired = false;
        watchdog::withdraw(*t);
        stop_rules::retire_killed_helpers(t->killed_helpers);
    }
}

}  // namespace

RequestBudget::RequestBudget(Timing timing) {
    if (t_in_request) {
        // A request inside another: it runs on the outer clock, and its own preamble (a sync)
        // is no stoppable work even if the outer request called it from a section.
        if (t_target && t_target->armed.load(std::memory_order_relaxed)) {
            set_armed(t_target, false);
            nested_disarmed_ = true;
        }
        return;
    }
    t_in_request = true;
    owner_ = true;
    double seconds = timing == untimed ? 0 : budget_seconds();
    slot_ = std::make_unique<StopTarget>();
    slot_->thread_id = PyThread_get_thread_ident();
    slot_->thread_state = PyThreadState_Get();
    slot_->seconds = seconds;
    slot_->deadline = seconds <= 0 ? BudgetClock::time_point::max()
                                   : BudgetClock::now() + std::chrono::duration_cast<BudgetClock::duration>(
                                                              std::chrono::duration<double>(seconds));
    try {
        watchdog::add(slot_.get());
    } catch (...) {
        t_in_request = false;
        throw;
    }
    t_target = slot_.get();
}

RequestBudget::~RequestBudget() {
    if (nested_disarmed_) {
        if (t_target) t_target->armed.store(true, std::memory_order_relaxed);
        return;
    }
    if (!owner_) return;
    if (slot_) {
        set_armed(slot_.get(), false);
        watchdog::remove(slot_.get());
        t_target = nullptr;
    }
    t_in_request = false;
}

PyObject* RequestBudget::caught() const {
    if (!slot_) return PyExc_Exception;
    static PyObject* both = nullptr;  // kept for the life of the process, like pyobj::Name
    if (!both) both = py::make_tuple(py::handle(PyExc_Exception), py::handle(watchdog::stop_type())).release().ptr();
    return both;
}

py::str RequestBudget::error_text(const py::error_already_set& e) const {
    if (slot_ && e.matches(watchdog::stop_type())) {
        if (slot_->seconds <= 0 || watchdog::exiting()) return py::str("Request stopped: the interpreter is exiting");
        return budget_text(slot_->seconds);
    }
    return pyobj::error_text(e);
}

BudgetClock::time_point request_deadline() {
    return t_target ? t_target->deadline : BudgetClock::time_point::max();
}

bool stop_for_exit() { return t_target && watchdog::exiting(); }

void raise_out_of_time() {
    PyErr_SetNone(watchdog::stop_type());
    pyobj::throw_error();
}

StopSection::StopSection() {
    if (!t_target || t_target->armed.load(std::memory_order_relaxed)) return;  // none, or nested
    if (BudgetClock::now() >= t_target->deadline || watchdog::exiting()) raise_out_of_time();
    t_target->base_depth = stop_rules::depth(PyThreadState_Get());
    set_armed(t_target, true);
    owner_ = true;
}

StopSection::~StopSection() { disarm(); }

void StopSection::disarm() {
    if (!owner_) return;
    owner_ = false;
    if (t_target) set_armed(t_target, false);
}

void StopSection::end(const py::error_already_set& e) {
    bool was_owner = owner_;
    disarm();
    if (was_owner && e.matches(watchdog::stop_type())) stop_rules::undo(e.trace());
}

}  // namespace runtime
