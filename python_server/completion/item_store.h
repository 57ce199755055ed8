// The item cache on disk: one JSON file per defining module in jedi's cache directory, so a new
// process starts with the answers an earlier one computed. Data only, written atomically; a file
// that cannot be used is ignored (and replaced at the next write), never trusted.
#pragma once

#include "pyobj/errors.h"

namespace completion::item_store {

// <jedi.settings.cache_directory>/lsp_bridge_items, or a null object when
// LSP_BRIDGE_NO_PERSISTENT_CACHE is set (to anything non-empty).
py::object folder();

// The stored entries (key -> (type, detail or None, documentation or None)) of the module
// `module_id` whose files are `files` ([[path, size, mtime_ns], ...]); a null object when there is
// no file for it, or it was written for other files or versions, or cannot be used.
py::object load(py::handle folder, py::handle module_id, py::handle files);

// Replaces the module's file with `entries`; failures are logged at debug and otherwise ignored.
// Then removes the oldest files when the folder holds too many.
void save(py::handle folder, py::handle module_id, py::handle files, py::handle entries);

}  // namespace completion::item_store
