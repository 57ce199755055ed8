#include "pyobj/gil.h"

#include <cxxabi.h>
#include <unistd.h>

namespace pyobj {

namespace {
[[noreturn]] void park() noexcept {
    for (;;) ::pause();
}
}  // namespace

void restore_thread(PyThreadState* state) noexcept {
    try {
        PyEval_RestoreThread(state);
    } catch (abi::__forced_unwind&) {
        park();
    }
}

PyGILState_STATE ensure_gil() noexcept {
    try {
        return PyGILState_Ensure();
    } catch (abi::__forced_unwind&) {
        park();
    }
}

}  // namespace pyobj
