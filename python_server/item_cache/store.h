// The item cache on disk: one JSON file per defining module and resolution context in jedi's
// cache directory, so a new process starts with the answers an earlier one computed. Data only,
// written atomically; a file that cannot be used is ignored (and replaced at the next write),
// never trusted.
//
// The folder is the process's own: made with mode 0700, opened without following a link, and
// used only while it belongs to this user and nobody else may write to it (otherwise the disk
// part is off for that folder, with one debug line). Every file is reached relative to the
// opened folder, read only when it is a regular file of this user (opened non-blocking, so a
// FIFO cannot stall the request), and only names the store makes itself are ever removed.
#pragma once

#include <functional>

#include "pyobj/errors.h"

namespace item_cache::store {

// False when LSP_BRIDGE_NO_PERSISTENT_CACHE is set (to anything non-empty); read at each call.
bool enabled();

// The stored object written for `header` (a dict of str and int fields, all of which the file
// must carry unchanged), when `usable` accepts it; a null object otherwise. A file that exists
// but cannot be used is logged at debug.
py::object load(py::handle header, const std::function<bool(py::handle)>& usable);

// Replaces the file of `header` with the header's fields and `payload`'s; failures are logged at
// debug and otherwise ignored. Then removes the oldest files when the folder holds too many.
void save(py::handle header, py::handle payload);

}  // namespace item_cache::store
