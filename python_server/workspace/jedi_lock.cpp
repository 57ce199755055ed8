#include "workspace/jedi_lock.h"

#include <mutex>

namespace workspace {

namespace {
// Never destroyed: a daemon warm-up thread may still hold it while the process exits.
std::recursive_mutex& jedi_mutex() {
    static auto* mutex = new std::recursive_mutex;
    return *mutex;
}
}  // namespace

JediLock::JediLock() {
    std::recursive_mutex& mutex = jedi_mutex();
    if (mutex.try_lock()) return;
    Py_BEGIN_ALLOW_THREADS
    mutex.lock();
    Py_END_ALLOW_THREADS
}

JediLock::~JediLock() { jedi_mutex().unlock(); }

}  // namespace workspace
