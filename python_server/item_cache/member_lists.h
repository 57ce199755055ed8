// Whole member lists of library values. After `x.` jedi's answer is the members of what `x`
// infers to, filtered by the typed name; when that is one library value (a module, a class, an
// instance of a library class, generic ones with their arguments, a literal), or several that
// describe alike (two str literals, instances of one class made in two branches), the whole list -
// jedi's order, each name's filter string, label and item values - depends only on that value,
// the files jedi read, jedi's settings and the resolution context. So the list is kept under a
// description of the value, and a later request on the same value is answered by filtering it
// as jedi filters, without asking jedi for its completions.
//
// What is decided here mirrors jedi 0.18's Completion.complete for the trailer case, with jedi's
// own helpers on the request's own Script, so the inference it does is the one jedi's answer
// would do first (and memoizes for it).
#pragma once

#include <optional>
#include <string>

#include "item_cache/item_values.h"
#include "item_cache/library_files.h"

namespace item_cache::members {

// A member completion whose answer is a kept list's: the value's description and the typed name.
struct Site {
    std::string value;
    py::object like_name;
};

// The site at (line, column), or nothing when jedi's answer there is anything else (not after a
// dot, an import, a string, a dict key, no value or several that describe differently, a value
// that is not a library one or whose list may depend on more than its description). Raises on
// anything unexpected.
std::optional<Site> site_of(py::handle script, py::handle line, py::handle column, const LibraryFiles& library);

// The code a served list skips is jedi's own as at the first look: jedi.Script.complete and the
// module dicts of jedi.api.completion, jedi.api.helpers and jedi.api.completion_cache.
bool skipped_code_is_own();

// One kept entry of a completion whose item values are known: (filter string, label, whether
// its documentation depends on the typed name's length, type, detail or None, documentation or
// None); a null object when the completion is not one that may be kept.
py::object entry(py::handle completion, py::handle label, const ItemValues& values);

// Whether jedi answers this completion's type and documentation from its own per-module cache
// of numpy, pandas and the like (api.completion_cache, filled on first use and never emptied)
// with values an earlier request made. Such values are not made from what this request read,
// and in a later process they would be made again, so they are not kept.
bool answered_from_jedi_name_cache(py::handle completion);

// Stored entries as the memory keeps them; a null object when their shape is wrong.
py::object entries_from_json(py::handle stored);

// The answer from a kept list, filtered as jedi filters for `like_name` and by the underscore
// rule; nothing when jedi's items could differ (an import name's documentation past 3 characters).
std::optional<ServedList> serve(py::handle entries, py::handle like_name, bool show_underscores, const ItemMaker& maker);

}  // namespace item_cache::members
