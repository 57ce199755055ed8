// The rules a stop follows, read from the frames of the stopped thread: where it must not strike
// (code whose state an exception between two of its lines would leave half-changed for every
// later request, and which nobody could repair; all short, so the watchdog waits there), and
// what to undo after it struck (read from the frames its traceback passes through). Both are a
// table of places matched by one frame matcher (stop_rules.cpp).
#pragma once

#include <string>
#include <vector>

#include "pyobj/errors.h"

namespace runtime {
namespace stop_rules {

// With the GIL held: the number of Python frames of `thread`.
int depth(PyThreadState* thread);

// With the GIL held: one of the frames `thread` entered after its first `base_depth` frames is a
// place where no stop may strike. The frames below belong to the host's caller (a thread's own
// start in threading.py, say) and are not the request's work.
bool unsafe(PyThreadState* thread, int base_depth);

// On the watchdog's thread, under the GIL, right after it raised the stop in `thread`: ends a wait
// that would hold the stop off (jedi waiting for its helper's reply) by killing that helper.
// Returns the helper it killed (jedi's CompiledSubprocess), or a null object. Never raises.
py::object on_fired(PyThreadState* thread, int base_depth);

// In the stopped request's thread, under the GIL, when its stoppable section ends, however it
// ends: each helper the watchdog killed for it (on_fired) that jedi has not marked crashed is
// ended as jedi ends a crashed one, so the next request's Environment starts a fresh helper. The
// stop may never unwind through jedi's frames, where undo() would find the helper (a finalizer or
// a bare except took it), and a helper killed but not marked would be handed to the next request.
// Empties `helpers`. Never raises; the error in flight, if any, stays as it was.
void retire_killed_helpers(std::vector<py::object>& helpers) noexcept;

// After a stop, in the stopped request's thread, with the GIL and (for the jedi requests) the
// jedi lock still held, so no other request sees the half-done state. `trace`: the stop's
// traceback (may be None). Never raises: a clean-up that fails is reported to
// sys.unraisablehook and the next one runs.
void undo(py::handle trace);

// At the interpreter's exit, with the GIL held: removes every parso cache file that a thread is
// still writing (a frame in parso's _save_to_file_system), since the finalizer may end the thread
// before the file is whole; returns their names (file system encoding) for a last removal once
// no thread can run Python any more. Never raises.
std::vector<std::string> remove_files_being_written();

}  // namespace stop_rules
}  // namespace runtime
