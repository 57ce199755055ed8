// Where a stop must not strike: code whose state an exception between two of its lines would
// leave half-changed for every later request, and which nobody can repair afterwards. The
// watchdog looks at the target thread's frames before it raises the stop and waits while one of
// them is such a place; they are all short.
#pragma once

#include "pyobj/errors.h"

namespace workspace {
namespace stop_places {

// With the GIL held: a frame of `thread` is at a place in the table (stop_places.cpp).
bool unsafe(PyThreadState* thread);

}  // namespace stop_places
}  // namespace workspace
