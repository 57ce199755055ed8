// Calls made as the interpreter makes them (a vectorcall over the arguments in place): no bound
// method, argument tuple or keyword dict is built, which counts on every request and file.
#pragma once

#include "pyobj/names.h"

namespace pyobj {

// callable(args...), the last `keywords.size()` of them passed by those names.
template <class... Args>
py::object call_kw(py::handle callable, KeywordNames& keywords, const Args&... args) {
    PyObject* stack[] = {nullptr, py::handle(args).ptr()...};  // slot 0 is the callee's to use
    size_t positional = sizeof...(Args) - static_cast<size_t>(keywords.size());
    return steal(PyObject_Vectorcall(callable.ptr(), stack + 1, positional | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                     keywords.get()));
}

// callable(args...)
template <class... Args>
py::object call(py::handle callable, const Args&... args) {
    PyObject* stack[] = {nullptr, py::handle(args).ptr()...};
    return steal(PyObject_Vectorcall(callable.ptr(), stack + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                     nullptr));
}

// obj.<name>(args...), the last `keywords.size()` of them by keyword (no keywords: nullptr).
template <class... Args>
py::object call_method_kw(py::handle obj, Name& name, KeywordNames* keywords, const Args&... args) {
    PyObject* stack[] = {obj.ptr(), py::handle(args).ptr()...};
    size_t positional = 1 + sizeof...(Args) - static_cast<size_t>(keywords ? keywords->size() : 0);
    return steal(PyObject_VectorcallMethod(name.get(), stack, positional | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                           keywords ? keywords->get() : nullptr));
}

// obj.<name>(args...)
template <class... Args>
py::object call_method(py::handle obj, Name& name, const Args&... args) {
    return call_method_kw(obj, name, nullptr, args...);
}

}  // namespace pyobj
