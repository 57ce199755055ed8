// A jedi completion as the Monaco completion item the editor shows.
#pragma once

#include "pyobj/errors.h"

namespace completion {

// What an item's per-name work gave: jedi's type, the detail and the documentation (a null
// object where the item has none), and whether any part of it raised.
struct ItemValues {
    py::object type, detail, documentation;
    bool failed = false;
};

// text.startswith("_")
bool starts_with_underscore(py::handle text);

// The item for `completion` - label, kind, insertText, then "detail" for a function with a
// signature and "documentation" for a non-empty docstring - or a null object when the
// completion is an underscore name and the typed word does not begin with "_".
py::object completion_item(py::handle self, py::handle completion, bool show_underscores);

// The item for a completion whose `name` was read and passed the underscore rule; `record`, when
// given, receives what was computed.
py::object item_for_name(py::handle self, py::handle completion, py::handle name, ItemValues* record);

// The item made from values computed earlier, the kind looked up now.
py::object item_from_values(py::handle name, const ItemValues& values);

}  // namespace completion
