// The watchdog that stops a request past its deadline: one C++ thread, started with the first
// request (budget or not) or collector pause, that sleeps until the earliest deadline and then, holding the GIL,
// raises the stop in the request's own thread (PyThreadState_SetAsyncExc) if that thread is
// inside a stoppable section and not at a place where an exception would leave the interpreter
// half-changed (stop_rules.h); otherwise it looks again a few milliseconds later.
#pragma once

#include <atomic>
#include <chrono>
#include <vector>

#include "pyobj/errors.h"

namespace runtime {

// The clock of every deadline: the budget's, the lock wait's and the watchdog's own.
using BudgetClock = std::chrono::steady_clock;

// One owner request's registration: made by its RequestBudget on its own stack.
struct StopTarget {
    unsigned long thread_id = 0;         // PyThread_get_thread_ident() of the request's thread
    PyThreadState* thread_state = nullptr;  // the request thread's own state: the only one a stop may reach
    double seconds = 0;                  // the budget, for the error text
    BudgetClock::time_point deadline{};  // fixed before it is added
    std::atomic<bool> armed{false};      // written by the request's thread under the GIL
    int base_depth = 0;                  // its Python frames when it was armed; under the GIL
    bool fired = false;                  // a stop was raised for it; under the GIL
    std::vector<py::object> killed_helpers;  // jedi's helpers killed with the stop; under the GIL
    BudgetClock::time_point next_try{};  // the watchdog's own, under its mutex
    BudgetClock::time_point shadowed_since{};  // the watchdog's own: a newer state has the thread's id
};

namespace watchdog {

// The private exception class of the stop: a BaseException, so no `except Exception` in jedi,
// parso, pyflakes or our own code takes it. Made once, in no module's or class's dict.
PyObject* stop_type();

// With the GIL held. `add` starts the watchdog if it is not running (never after end());
// `remove` is a no-op for a target it does not hold. Every owner request is a target, with a
// budget or without (deadline max): the interpreter's exit stops them all.
void add(StopTarget* target);
void remove(StopTarget* target);

// In the request's own thread, under the GIL: a stop raised for it and not yet delivered is taken
// back from its own thread state (never by thread id: a state of a thread it has just started
// may carry the same id). It is taken by delivery, into bytecode that does nothing, and dropped:
// taking it back by hand would leave the interpreter's flag that an asynchronous exception is
// pending set until the next one is delivered, and every thread checks for one at each of its
// eval-breaker points meanwhile (3.11: its bytecode runs 2.3 times slower). The error in flight
// stays as it was. Never raises.
void withdraw(StopTarget& target);

// With the GIL held: runs `task` on the watchdog's thread, under the GIL, at `when`. One task at
// a time: a later call replaces it; BudgetClock::time_point::max() cancels it.
void call_at(BudgetClock::time_point when, void (*task)() noexcept);

// The interpreter's exit has begun (process_state.h): every target is stopped as soon as it is
// armed at a safe place, and a section that begins from now on raises the stop at once.
bool exiting();

// For process_state.cpp only. stop_every_request: with the GIL held, begins the exit. end: with
// the GIL held (released while it waits), ends the thread for good, so that it never asks for the
// GIL once the interpreter finalizes. after_fork_in_child: a fresh state (the thread is not in
// the child, and the mutex may have been held); it allocates nothing that can fail loudly.
void stop_every_request();
void end();
void after_fork_in_child() noexcept;

}  // namespace watchdog
}  // namespace runtime
