// One definition as a hover block (hover_format.cpp): the one chain over functions, classes,
// modules and every other type, shared by the compact and the detailed layout, which differ only
// in their labels.
#pragma once

#include "pyobj/errors.h"

namespace hover {

struct Layout {
    const char* function;  // before a function's name (and its signature)
    const char* class_;    // before a class's name
    const char* module;    // before a module's name
    bool type_label;       // any other type: "(type) name: description", else "name: description"
};

inline constexpr Layout kCompact{"(function) ", "(class) ", "(module) ", true};
inline constexpr Layout kDetailed{"", "class ", "module ", false};

// The fenced block of `definition` shown as `name`, chosen by its `type`: a function with its
// first signature as self._format_signature makes it (the plain block when there is none or the
// signature work fails), a class, a module, or anything else with
// self._get_type_description(definition, type).
py::str definition_block(py::handle self, py::handle definition, py::handle name, const Layout& layout);

}  // namespace hover
