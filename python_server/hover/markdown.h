// The pieces of hover markdown: one-line python code blocks, and the rule between parts.
#pragma once

#include "pyobj/pyobj.h"

namespace hover {

inline constexpr const char* kOpenFence = "```python\n";
inline constexpr const char* kCloseFence = "\n```";
inline constexpr const char* kPartSeparator = "\n\n---\n\n";

// The opening fence, the given str parts, the closing fence. Values that are not text yet go
// through pyobj::format_value first, in the order an f-string would format them.
template <class... Parts>
py::str fenced(const Parts&... parts) {
    return pyobj::concat(kOpenFence, parts..., kCloseFence);
}

// kPartSeparator.join(parts): a part that is not a str fails the join (TypeError).
inline py::str join_parts(py::handle parts) {
    return py::reinterpret_steal<py::str>(pyobj::check(PyUnicode_Join(py::str(kPartSeparator).ptr(), parts.ptr())));
}

// The block of a definition of type "function": `label`, `name` and its first signature as
// self._format_signature makes it; `label` and `name` alone when there is no signature or the
// signature work fails.
py::str function_block(py::handle self, py::handle definition, const char* label, py::handle name);

// {"kind": "markdown", "value": text}
inline py::dict markdown(py::handle text) {
    py::dict contents;
    contents["kind"] = "markdown";
    contents["value"] = text;
    return contents;
}

// {"contents": contents, "error": error}: every hover answer has exactly these two keys.
inline py::dict hover_result(py::handle contents, py::handle error) {
    py::dict result;
    result["contents"] = contents;
    result["error"] = error;
    return result;
}

}  // namespace hover
