// Taking the GIL back on a thread that the finalizing interpreter may end. From the moment
// Py_FinalizeEx begins, CPython (3.9 to 3.13) ends any other thread that asks for the GIL with
// pthread_exit(), whose unwinding would run our destructors, which release Python objects,
// without the GIL while the finalizer collects. These park the thread instead: it keeps its
// frames, touches nothing, and ends with the process.
#pragma once

#include "pyobj/errors.h"

namespace pyobj {

// PyEval_RestoreThread(state), or parks for good.
void restore_thread(PyThreadState* state) noexcept;

// PyGILState_Ensure(), or parks for good.
PyGILState_STATE ensure_gil() noexcept;

// work() with the GIL released; the GIL is taken back (or the thread parks) however it ends.
template <class Work>
auto without_gil(Work&& work) -> decltype(work()) {
    struct Reacquire {
        PyThreadState* state;
        ~Reacquire() { restore_thread(state); }
    } reacquire{PyEval_SaveThread()};
    return work();
}

}  // namespace pyobj
