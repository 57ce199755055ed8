// Python errors as C++ exceptions and back, and Python-style exception handlers.
//
// A Python failure inside C++ is a thrown py::error_already_set. Handlers written with `except`
// and `suppress` catch it as an `except` clause would; whatever no handler takes reaches a C
// entry point, where set_error_from_current_exception turns it (or any other C++ exception)
// back into a raised Python exception.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pybind11/pybind11.h>

#include <new>
#include <utility>

namespace py = pybind11;

namespace pyobj {

[[noreturn]] void throw_error();  // the Python error indicator is set: throw it as C++

// Inside a catch block of a C entry point: makes the active C++ exception the raised Python
// exception (std::bad_alloc becomes MemoryError), so that no C++ exception crosses into the
// interpreter. The one place where C++ exceptions become Python errors.
void set_error_from_current_exception() noexcept;

// raise type(message)
[[noreturn]] void raise(PyObject* type, const char* message);

inline PyObject* check(PyObject* o) {
    if (!o) throw_error();
    return o;
}
inline py::object steal(PyObject* o) { return py::reinterpret_steal<py::object>(check(o)); }

// The status of a C API call that returns -1 (or any negative value) on failure.
inline int check(int status) {
    if (status < 0) throw_error();
    return status;
}

// A C API conversion whose failure value (`failed`, e.g. -1) is also a valid result, so only the
// error indicator tells them apart (PyLong_AsLong and friends).
template <class T>
T check_value(T value, T failed) {
    if (value == failed && PyErr_Occurred()) throw_error();
    return value;
}

// str(e) of a caught exception, or its class name when that text is empty, so that a failure
// is never reported as an empty (falsy) error message.
py::str error_text(const py::error_already_set& e);

// While a handler runs, the caught exception is the one being handled (sys.exc_info()), as in
// an except block, so that logging with exc_info=True finds its traceback.
class Handling {
public:
    explicit Handling(const py::error_already_set& e);
    ~Handling();
    Handling(const Handling&) = delete;
    Handling& operator=(const Handling&) = delete;

private:
    PyObject* saved_[3];
};

// try { body } except <types>: handler(e). Anything else propagates unchanged. A C++ allocation
// failure counts as MemoryError, as it would in Python.
template <class Body, class Handler>
auto except(PyObject* types, Body&& body, Handler&& handler) -> decltype(body()) {
    try {
        try {
            return body();
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            throw_error();
        }
    } catch (py::error_already_set& e) {
        if (!e.matches(types)) throw;
        Handling handling(e);
        return handler(e);
    }
}

// except Exception - the handler of every request, helper and maintenance method.
template <class Body, class Handler>
auto except_exception(Body&& body, Handler&& handler) -> decltype(body()) {
    return except(PyExc_Exception, std::forward<Body>(body), std::forward<Handler>(handler));
}

// try { body } except <types>: pass - for work whose failure costs only itself.
template <class Body>
void suppress(PyObject* types, Body&& body) {
    except(types, std::forward<Body>(body), [](py::error_already_set&) {});
}

}  // namespace pyobj
