// Whether jedi and parso are as shipped: every function, method and property in their loaded
// modules and classes is their own code (or the standard library's). A host that wraps one of
// them (say jedi.api.classes.Completion.docstring) must see its wrapper called, as a request
// without the item cache would call it, so the cache is off while one is not. The same holds for
// a plugin registered with jedi's plugin manager that is not one of jedi's own.
#pragma once

#include "pyobj/errors.h"

namespace item_cache {

// Compares pointers while no module or class dict of theirs gained, lost or rebound a callable
// since the last check; otherwise checks only the values that never passed one.
bool jedi_is_as_shipped();

// Whether the bridge's item path is the module's own: the exact LSPBridge class of the module,
// whose _format_signature resolves to the original method (no instance or class override).
bool bridge_is_own(py::handle self);

}  // namespace item_cache
