// The pieces of hover markdown: one-line python code blocks between "```python\n" and "\n```",
// and the rule between parts.
#pragma once

#include "hover/names.h"
#include "pyobj/ops.h"

namespace hover {

// The opening fence, the given str parts, the closing fence. Values that are not text yet go
// through pyobj::format_value first, in the order an f-string would format them.
template <class... Parts>
py::str fenced(const Parts&... parts) {
    return pyobj::concat(py::handle(names::open_fence), parts..., py::handle(names::close_fence));
}

// "\n\n---\n\n".join(parts): a part that is not a str fails the join (TypeError).
inline py::str join_parts(py::handle parts) {
    return py::reinterpret_steal<py::str>(pyobj::check(PyUnicode_Join(names::part_separator.get(), parts.ptr())));
}

// {"kind": "markdown", "value": text}
inline py::dict markdown(py::handle text) {
    py::dict contents;
    pyobj::set_item(contents, names::kind, names::markdown);
    pyobj::set_item(contents, names::value, text);
    return contents;
}

// {"contents": contents, "error": error}: every hover answer has exactly these two keys.
inline py::dict hover_result(py::handle contents, py::handle error) {
    py::dict result;
    pyobj::set_item(result, names::contents, contents);
    pyobj::set_item(result, names::error, error);
    return result;
}

}  // namespace hover
