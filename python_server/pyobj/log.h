// The module's log calls: logger.<level>(format, *args), with `logger` read from the module
// globals at each call so a replaced logger is used at once. The format goes to the logger
// unformatted; the logging module applies the arguments, so records keep them apart.
#pragma once

#include "pyobj/globals.h"

namespace pyobj {

inline py::object logger() { return global(PYOBJ_NAME("logger")); }

// `format` is a Name (a fixed text: PYOBJ_NAME("...")) or a str built by the caller.
template <class... Args>
void log(Name& level, py::handle format, Args&&... args) {
    py::object method = steal(PyObject_GetAttr(logger().ptr(), level.get()));
    static_cast<void>(method(format, std::forward<Args>(args)...));
}

template <class... Args> void debug(py::handle f, Args&&... a) { log(PYOBJ_NAME("debug"), f, std::forward<Args>(a)...); }
template <class... Args> void info(py::handle f, Args&&... a) { log(PYOBJ_NAME("info"), f, std::forward<Args>(a)...); }
template <class... Args> void warning(py::handle f, Args&&... a) { log(PYOBJ_NAME("warning"), f, std::forward<Args>(a)...); }
template <class... Args> void error(py::handle f, Args&&... a) { log(PYOBJ_NAME("error"), f, std::forward<Args>(a)...); }

}  // namespace pyobj
