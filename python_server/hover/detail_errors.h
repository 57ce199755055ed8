// The failures a missing or odd detail of a jedi object raises; they cost only that detail.
#pragma once

#include "pyobj/errors.h"

namespace hover {

// (AttributeError, TypeError), for pyobj::except and pyobj::suppress.
inline py::object detail_errors() {
    return py::make_tuple(py::handle(PyExc_AttributeError), py::handle(PyExc_TypeError));
}

}  // namespace hover
