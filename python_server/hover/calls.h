// Method calls made as the interpreter makes them (LOAD_METHOD, then a vectorcall): no bound
// method and no argument tuple or keyword dict is built, which counts on every request.
#pragma once

#include "pyobj/pyobj.h"
#include "workspace/request.h"

namespace hover {

// obj.<name>(args...)
template <class... Args>
py::object call_method(py::handle obj, pyobj::Name& name, Args... args) {
    PyObject* stack[] = {obj.ptr(), py::handle(args).ptr()...};
    return pyobj::steal(PyObject_VectorcallMethod(name.get(), stack, 1 + sizeof...(Args), nullptr));
}

// obj.<name>(line=line, column=column), the position of the request, by keyword.
inline py::object call_at_position(py::handle obj, pyobj::Name& name, const workspace::Request& r) {
    // Made once, kept for the life of the process, like pyobj::Name.
    static PyObject* kwnames = pyobj::check(Py_BuildValue("(ss)", "line", "column"));
    PyObject* stack[] = {obj.ptr(), r.line.ptr(), r.column.ptr()};
    return pyobj::steal(PyObject_VectorcallMethod(name.get(), stack, 1, kwnames));
}

}  // namespace hover
