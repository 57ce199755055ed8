#include "pyobj/errors.h"

#include <cxxabi.h>
#include <unistd.h>

#include "pyobj/names.h"

namespace pyobj {

void throw_error() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "error return without exception set");
    }
    throw py::error_already_set();
}

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        // The finalizing interpreter ends a thread that wants the GIL back by pthread_exit(),
        // whose unwinding may neither be swallowed (glibc aborts) nor cross the noexcept C entry
        // points above us (std::terminate). The thread parks instead until the process ends, as
        // later CPython versions do with such threads themselves.
        for (;;) ::pause();
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw_error();
}

py::str error_text(const py::error_already_set& e) {
    py::str text = py::reinterpret_steal<py::str>(check(PyObject_Str(e.value().ptr())));
    if (PyUnicode_GET_LENGTH(text.ptr()) > 0) return text;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(e.value().ptr()));
    py::object type_name = steal(PyObject_GetAttr(type, PYOBJ_NAME("__name__").get()));
    return py::reinterpret_steal<py::str>(check(PyObject_Str(type_name.ptr())));
}

Handling::Handling(const py::error_already_set& e) {
    PyErr_GetExcInfo(&saved_[0], &saved_[1], &saved_[2]);
    PyErr_SetExcInfo(e.type().inc_ref().ptr(), e.value().inc_ref().ptr(), e.trace().inc_ref().ptr());
}

Handling::~Handling() { PyErr_SetExcInfo(saved_[0], saved_[1], saved_[2]); }

}  // namespace pyobj
