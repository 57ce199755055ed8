// The method calls of the hover and signature-help bodies.
#pragma once

#include "pyobj/pyobj.h"
#include "workspace/request.h"

namespace hover {

using pyobj::call_method;

// obj.<name>(line=line, column=column), the position of the request, by keyword.
inline py::object call_at_position(py::handle obj, pyobj::Name& name, const workspace::Request& r) {
    static pyobj::KeywordNames keywords{"line", "column"};
    return pyobj::call_method_kw(obj, name, &keywords, r.line, r.column);
}

}  // namespace hover
