#include "runtime/jedi_lock.h"

#include <pthread.h>

#include <mutex>
#include <new>

#include "pyobj/errors.h"
#include "runtime/request_budget.h"

namespace runtime {

namespace {
// Never destroyed: a daemon warm-up thread may still hold it while the process exits.
std::recursive_timed_mutex* g_mutex = nullptr;

// A child made by fork() has only the forking thread; a lock that another thread (a warm-up)
// held at that moment would stay held for ever, so the child starts with a fresh one. It is
// made where the old one was, so the handler (called from C) allocates nothing and cannot fail.
void fresh_lock_in_child() noexcept { g_mutex = new (g_mutex) std::recursive_timed_mutex; }

std::recursive_timed_mutex& jedi_mutex() {
    static const bool ready = [] {
        g_mutex = new std::recursive_timed_mutex;
        return pthread_atfork(nullptr, nullptr, fresh_lock_in_child) == 0;
    }();
    static_cast<void>(ready);
    return *g_mutex;
}
}  // namespace

JediLock::JediLock() {
    std::recursive_timed_mutex& mutex = jedi_mutex();
    if (mutex.try_lock()) return;
    // A request waits no longer than its time budget, and then answers without touching jedi.
    BudgetClock::time_point deadline = request_deadline();
    bool locked = true;
    Py_BEGIN_ALLOW_THREADS
    if (deadline == BudgetClock::time_point::max()) mutex.lock(); else locked = mutex.try_lock_until(deadline);
    Py_END_ALLOW_THREADS
    if (!locked) raise_out_of_time();
}

JediLock::~JediLock() { jedi_mutex().unlock(); }

}  // namespace runtime
