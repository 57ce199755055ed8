// After a stop: undoes what it interrupted, read from the frames its traceback passes through.
// Runs in the stopped request's thread, with the GIL and (for the jedi requests) the jedi lock
// still held, so no other request sees the half-done state.
#pragma once

#include "pyobj/errors.h"

namespace workspace {
namespace stop_cleanup {

// `trace`: the stop's traceback (may be None). Never raises: a clean-up that fails is reported
// to sys.unraisablehook and the next one runs.
void undo(py::handle trace);

}  // namespace stop_cleanup
}  // namespace workspace
