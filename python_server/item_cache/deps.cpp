// Deps: merged, and as the disk store keeps them.
#include "item_cache/deps.h"

#include "item_cache/key.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache {

void Deps::merge(const Deps& other) {
    for (const auto& [path, state] : other.files) files[path] = state;
    names.insert(other.names.begin(), other.names.end());
}

namespace {

constexpr Py_ssize_t kRowSize = key::kDepsRowCount;

// Checked conversions: a stored number out of range raises, and the stored file is ignored.
int64_t signed_at(py::handle row, Py_ssize_t i) {
    return pyobj::check_value(PyLong_AsLongLong(PyList_GET_ITEM(row.ptr(), i)), -1LL);
}
uint64_t unsigned_at(py::handle row, Py_ssize_t i) {
    return pyobj::check_value(PyLong_AsUnsignedLongLong(PyList_GET_ITEM(row.ptr(), i)), static_cast<unsigned long long>(-1));
}

// One stored row into `deps`; false when its shape is wrong.
bool read_row(py::handle row, Deps& deps) {
    if (!PyList_CheckExact(row.ptr()) || PyList_GET_SIZE(row.ptr()) < 2 || !PyUnicode_CheckExact(PyList_GET_ITEM(row.ptr(), 0))) {
        return false;
    }
    std::string path = pyobj::utf8(PyList_GET_ITEM(row.ptr(), 0));
    if (PyList_GET_SIZE(row.ptr()) == 2 && PyList_GET_ITEM(row.ptr(), 1) == Py_None) {
        deps.files[path] = std::nullopt;
        return true;
    }
    if (PyList_GET_SIZE(row.ptr()) != kRowSize) return false;
    for (Py_ssize_t i = 1; i < kRowSize; ++i) {
        if (!PyLong_Check(PyList_GET_ITEM(row.ptr(), i))) return false;
    }
    FileState state;
    state.size = signed_at(row, 1);
    state.mtime_ns = signed_at(row, 2);
    state.ctime_ns = signed_at(row, 3);
    state.ino = unsigned_at(row, 4);
    state.dev = unsigned_at(row, 5);
    state.is_dir = pyobj::truthy(PyList_GET_ITEM(row.ptr(), 6));
    deps.files[path] = state;
    return true;
}

}  // namespace

py::dict Deps::to_json() const {
    py::list stored_files, stored_names;
    for (const auto& [path, state] : files) {
        if (!state) {
            stored_files.append(py::make_tuple(py::str(path), py::none()));
            continue;
        }
        stored_files.append(py::make_tuple(py::str(path), state->size, state->mtime_ns, state->ctime_ns, state->ino,
                                           state->dev, state->is_dir));
    }
    for (const std::string& name : names) stored_names.append(py::str(name));
    py::dict stored;
    stored["files"] = stored_files;
    stored["names"] = stored_names;
    return stored;
}

std::optional<Deps> Deps::from_json(py::handle stored) {
    py::object stored_files = pyobj::dict_get(stored, PYOBJ_NAME("files"));
    py::object stored_names = pyobj::dict_get(stored, PYOBJ_NAME("names"));
    if (!stored_files || !stored_names || !PyList_CheckExact(stored_files.ptr()) || !PyList_CheckExact(stored_names.ptr())) {
        return std::nullopt;
    }
    Deps deps;
    for (py::handle row : stored_files) {
        if (!read_row(row, deps)) return std::nullopt;
    }
    for (py::handle name : stored_names) {
        if (!PyUnicode_CheckExact(name.ptr())) return std::nullopt;
        deps.names.insert(pyobj::utf8(name));
    }
    return deps;
}

}  // namespace item_cache
