#include "workspace/stop_places.h"

#include <frameobject.h>

#include <cstring>

namespace workspace {
namespace stop_places {

namespace {

// A frame whose file ends with `file` (or any file, for nullptr) and whose function is
// `function` (or any function, for nullptr).
struct Place {
    const char* file;
    const char* function;
    const char* why;
};

constexpr Place kPlaces[] = {
    // Module locks and half-initialised modules in sys.modules (jedi's and pyflakes' own lazy
    // imports, importlib.util.find_spec in the import check, which imports parent packages).
    {"<frozen importlib._bootstrap>", nullptr, "import machinery"},
    {"<frozen importlib._bootstrap_external>", nullptr, "import machinery"},
    // A handler's lock taken and not yet released would block every later log call.
    {"/logging/__init__.py", nullptr, "logging locks"},
    // Lock and condition bookkeeping (jedi starts a thread with its helper process).
    {"/threading.py", nullptr, "thread locks"},
    // A child started and not yet recorded.
    {"/subprocess.py", nullptr, "process start"},
    // parso's disk cache: a pickle written straight into its final name, and gc.disable() ...
    // gc.enable() around each load.
    {"/parso/cache.py", "_save_to_file_system", "parser cache file"},
    {"/parso/cache.py", "_load_from_file_system", "parser cache file"},
    // A finalizer reports and drops an exception, so nothing could undo what it interrupted.
    {nullptr, "__del__", "finalizer"},
};

bool ends_with(PyObject* text, const char* suffix) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) {
        PyErr_Clear();  // a file name that cannot be encoded is no place of the table
        return false;
    }
    size_t n = std::strlen(suffix);
    return static_cast<size_t>(size) >= n && std::memcmp(utf8 + size - n, suffix, n) == 0;
}

bool equals(PyObject* text, const char* value) {
    return PyUnicode_CompareWithASCIIString(text, value) == 0;
}

bool in_table(PyCodeObject* code) {
    for (const Place& place : kPlaces) {
        if (place.function && !equals(code->co_name, place.function)) continue;
        if (place.file && !ends_with(code->co_filename, place.file)) continue;
        return true;
    }
    return false;
}

}  // namespace

namespace {
py::object top_frame(PyThreadState* thread) {
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(PyThreadState_GetFrame(thread)));
}

py::object back(py::handle frame) {
    return py::reinterpret_steal<py::object>(
        reinterpret_cast<PyObject*>(PyFrame_GetBack(reinterpret_cast<PyFrameObject*>(frame.ptr()))));
}
}  // namespace

int depth(PyThreadState* thread) {
    int n = 0;
    for (py::object frame = top_frame(thread); frame; frame = back(frame)) ++n;
    return n;
}

bool unsafe(PyThreadState* thread, int base_depth) {
    int own = depth(thread) - base_depth;
    py::object frame = top_frame(thread);
    for (int i = 0; frame && i < own; ++i, frame = back(frame)) {
        PyFrameObject* f = reinterpret_cast<PyFrameObject*>(frame.ptr());
        py::object code = py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(PyFrame_GetCode(f)));
        if (in_table(reinterpret_cast<PyCodeObject*>(code.ptr()))) return true;
    }
    return false;
}

}  // namespace stop_places
}  // namespace workspace
