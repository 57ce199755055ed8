// Where a stop must not strike: code whose state an exception between two of its lines would
// leave half-changed for every later request, and which nobody can repair afterwards. The
// watchdog looks at the target thread's frames before it raises the stop and waits while one of
// them is such a place; they are all short.
#pragma once

#include "pyobj/errors.h"

namespace workspace {
namespace stop_places {

// With the GIL held: the number of Python frames of `thread`.
int depth(PyThreadState* thread);

// With the GIL held: one of the frames `thread` entered after its first `base_depth` frames is at
// a place in the table (stop_places.cpp). The frames below belong to the host's caller (a thread's
// own start in threading.py, say) and are not the request's work.
bool unsafe(PyThreadState* thread, int base_depth);

}  // namespace stop_places
}  // namespace workspace
