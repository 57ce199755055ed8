#include "runtime/jedi_lock.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <new>

#include "pyobj/errors.h"
#include "pyobj/gil.h"
#include "runtime/request_budget.h"

namespace runtime {

namespace {

// A waiting request looks this often whether the interpreter's exit wants it to stop.
constexpr std::chrono::milliseconds kExitPoll{20};

// Never destroyed: a daemon warm-up thread may still hold it while the process exits.
std::recursive_timed_mutex* g_mutex = nullptr;

std::recursive_timed_mutex& jedi_mutex() {
    if (!g_mutex) g_mutex = new std::recursive_timed_mutex;  // under the GIL
    return *g_mutex;
}

// Waits with the GIL released until the lock is held, the deadline passes or the exit asks the
// thread to stop; true if held.
bool wait_for(std::recursive_timed_mutex& mutex, BudgetClock::time_point deadline) {
    return pyobj::without_gil([&] {
        for (;;) {
            if (mutex.try_lock_until(std::min(deadline, BudgetClock::now() + kExitPoll))) return true;
            if (BudgetClock::now() >= deadline || stop_for_exit()) return false;
        }
    });
}

}  // namespace

void make_jedi_lock() { jedi_mutex(); }

// Made where the old one was, so the handler (called from C) allocates nothing and cannot fail.
void fresh_jedi_lock_in_child() noexcept {
    if (g_mutex) g_mutex = new (g_mutex) std::recursive_timed_mutex;
}

JediLock::JediLock() {
    std::recursive_timed_mutex& mutex = jedi_mutex();
    // A request waits no longer than its time budget, and then answers without touching jedi;
    // at the interpreter's exit it does not start.
    if (!mutex.try_lock() && !wait_for(mutex, request_deadline())) raise_out_of_time();
    if (stop_for_exit()) {
        mutex.unlock();
        raise_out_of_time();
    }
}

JediLock::~JediLock() { jedi_mutex().unlock(); }

}  // namespace runtime
