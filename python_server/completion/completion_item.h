// A jedi completion as the Monaco completion item the editor shows.
#pragma once

#include "pyobj/errors.h"

namespace completion {

// text.startswith("_")
bool starts_with_underscore(py::handle text);

// The item for `completion` - label, kind, insertText, then "detail" for a function with a
// signature and "documentation" for a non-empty docstring - or a null object when the
// completion is an underscore name and the typed word does not begin with "_".
py::object completion_item(py::handle self, py::handle completion, bool show_underscores);

}  // namespace completion
