// Python operators and built-ins on objects, checked: each raises what the Python expression
// would raise.
#pragma once

#include <string>

#include "pyobj/errors.h"

namespace pyobj {

bool truthy(py::handle obj);  // bool(obj)

// `item in container`; an exact str looked for in a str without the generic protocol.
bool contains(py::handle container, py::handle item);

// `a <op> b` for op in Py_LT ... Py_GE, as a bool.
bool compare(py::handle a, py::handle b, int op);
inline bool equals(py::handle a, py::handle b) { return compare(a, b, Py_EQ); }

// a + b with Python's own rules (ints of any size, or whatever the operands define).
py::object add(py::handle a, py::handle b);

// `value if value else fallback`
py::object or_else(py::handle value, py::handle fallback);

// d[key] = value for a dict
void set_item(py::handle dict, py::handle key, py::handle value);

// d.get(key) for a dict without calling back into Python for a missing key: the value, or a null
// object when the key is absent. A failing key hash or comparison raises.
py::object dict_get(py::handle dict, py::handle key);

// format(value, ""): str as is, anything else by its own __format__.
py::str format_value(py::handle value);

// The UTF-8 bytes of a str (UnicodeEncodeError for lone surrogates).
std::string utf8(py::handle text);

// Concatenation of str parts, as "a" + b + "c" would build it.
template <class... Parts>
py::str concat(const Parts&... parts) {
    py::list items;
    (items.append(parts), ...);
    return py::reinterpret_steal<py::str>(check(PyUnicode_Join(py::str("").ptr(), items.ptr())));
}

// The str result check of the methods declared to return str: a str (or None) passes, anything
// else is TypeError "Expected str, got <type>".
void require_str_result(py::handle result, bool accept_subclasses = false);

}  // namespace pyobj
