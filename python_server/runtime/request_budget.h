// The time budget of a request (LSP_BRIDGE_REQUEST_BUDGET, seconds, read at each request's
// start; 0 turns it off). jedi cannot be cancelled, so a request that runs out of time inside
// jedi, parso or pyflakes is stopped by an exception raised in its own thread (the watchdog,
// stop_watchdog.h), and only while it is inside a stoppable section: the work a request hands to
// those libraries, never the sync of modules, our own caches or the answer. What the stop
// interrupted is undone by stop_rules.h. docs/architecture.md, "The request budget", has the
// reasoning.
#pragma once

#include <memory>

#include "pyobj/errors.h"
#include "runtime/stop_watchdog.h"

namespace runtime {

// The budget of the request running on this thread. The outermost request on a thread owns it
// (a request called from inside another runs on the outer one's clock). The owner is stoppable
// with a budget or without: the interpreter's exit stops every request (process_state.h), and a
// request without a budget (0, or the warm-up's `untimed`) is stopped by nothing else.
class RequestBudget {
public:
    enum Timing { from_environment, untimed };
    explicit RequestBudget(Timing timing = from_environment);
    ~RequestBudget();
    RequestBudget(const RequestBudget&) = delete;
    RequestBudget& operator=(const RequestBudget&) = delete;

    // What the request's answer catches: Exception, and the stop when this budget owns it.
    PyObject* caught() const;
    // The error text of a failed request: "Request ran out of time (budget: N s)" for the stop
    // (or "Request stopped: the interpreter is exiting"), else pyobj::error_text(e).
    py::str error_text(const py::error_already_set& e) const;

private:
    std::unique_ptr<StopTarget> slot_;  // null: not the owner
    bool owner_ = false;           // the outermost request on this thread
    bool nested_disarmed_ = false;  // a request inside a section: the section is armed again after it
};

// The end of this thread's request budget, for waits; BudgetClock::time_point::max() if none.
BudgetClock::time_point request_deadline();

// Raises the stop now (the budget ran out before the work began): the request answers its
// ordinary error result.
[[noreturn]] void raise_out_of_time();

// This thread's request (or warm-up) is to stop at once: the interpreter is exiting.
bool stop_for_exit();

// Marks this thread stoppable while it lives, under the GIL; raises the stop at once if the
// deadline has passed. Sections nest; the outermost one arms and disarms.
class StopSection {
public:
    StopSection();
    ~StopSection();
    StopSection(const StopSection&) = delete;
    StopSection& operator=(const StopSection&) = delete;

    // Disarms (and clears a stop still pending for this thread); if `e` is the stop, undoes what
    // it interrupted. Called on the way out with the error, before any other code runs.
    void end(const py::error_already_set& e);

private:
    void disarm();
    bool owner_ = false;  // this section armed the thread
};

// work() as a stoppable section.
template <class Work>
auto stoppable(Work&& work) -> decltype(work()) {
    StopSection section;
    try {
        return work();
    } catch (py::error_already_set& e) {
        section.end(e);
        throw;
    }
}

}  // namespace runtime
