// The tree of the text a diagnostics request parsed, lent to the checks the request calls for
// that same text: its syntax check parses the text once, and pyflakes and the import check walk
// that tree instead of parsing it again (a large file costs a parse of half a second or more,
// which no stop can cut short).
#pragma once

#include "pyobj/errors.h"

namespace diagnostics {

// Lends `tree`, the module tree of `code`, to the calls this thread makes while it lives. Both
// stay held by the request that lends them. A request inside another lends its own, and the
// outer one's is lent again when it ends.
class ParsedText {
public:
    ParsedText(py::handle code, py::handle tree);
    ~ParsedText();
    ParsedText(const ParsedText&) = delete;
    ParsedText& operator=(const ParsedText&) = delete;

    // The tree lent on this thread for this very str object, or a null object: a check called
    // for another text, or from outside a request, parses its text itself.
    static py::object tree_of(py::handle code);

    // `tree` as ast.parse makes it from text (an ast.Module): what may be lent.
    static bool is_module_tree(py::handle tree);

private:
    py::handle code_, tree_;
    ParsedText* outer_;
};

}  // namespace diagnostics
