// What the item cache and the completion feature hand each other: an item's computed values, how
// the feature makes its items, and a member completion's answer served from a kept list.
#pragma once

#include "pyobj/errors.h"

namespace item_cache {

// What an item's per-name work gave: jedi's type, the detail and the documentation (a null
// object where the item has none), whether any part of it raised, and whether jedi answered it
// from its own name cache filled by an earlier request (so not from what this request read).
struct ItemValues {
    py::object type, detail, documentation;
    bool failed = false;
    bool borrowed = false;
};

// How the feature makes its items; the cache knows them only through these.
struct ItemMaker {
    // The item of a completion, or a null object for a hidden underscore name.
    py::object (*item)(py::handle self, py::handle completion, bool show_underscores);
    // text.startswith("_")
    bool (*starts_with_underscore)(py::handle text);
    // The item of a completion whose name passed the underscore rule; `record`, when given,
    // receives what was computed.
    py::object (*computed)(py::handle self, py::handle completion, py::handle name, ItemValues* record);
    // The item made from values computed earlier.
    py::object (*from_values)(py::handle name, const ItemValues& values);
};

// A member completion's answer from a kept list (member_lists.h): the items, and how many
// completions jedi would have returned before the underscore rule.
struct ServedList {
    py::list items;
    Py_ssize_t matched = 0;
};

}  // namespace item_cache
