// The module sync directory: one flat folder with one UTF-8 file per in-memory module.
#include "workspace/methods.h"
#include "pyobj/calls.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"
#include "workspace/sync.h"

namespace workspace {

using pyobj::attr;
using pyobj::global;

namespace {

using pyobj::call_method;
using pyobj::Name;

// os and os.path, read at call time as every module global is.
Name os_name("os"), path_name("path");

py::object os_module() { return global(os_name); }
py::object os_path() { return attr(global(os_name), path_name); }

// with open(path, "w", encoding="utf-8") as f: f.write(code)
void write_text_file(py::handle path, py::handle code) {
    static pyobj::KeywordNames encoding{"encoding"};
    Name& exit = PYOBJ_NAME("__exit__");
    py::object file =
        pyobj::call_kw(global(PYOBJ_NAME("open")), encoding, path, PYOBJ_NAME("w").get(), PYOBJ_NAME("utf-8").get());
    py::object entered = call_method(file, PYOBJ_NAME("__enter__"));
    try {
        call_method(entered, PYOBJ_NAME("write"), code);
    } catch (py::error_already_set& e) {
        pyobj::Handling handling(e);
        py::object trace = e.trace() ? e.trace() : py::none();
        if (!pyobj::truthy(call_method(file, exit, e.type(), e.value(), trace))) throw;
        return;
    }
    call_method(file, exit, Py_None, Py_None, Py_None);
}

// os.sep or os.altsep (None on POSIX) occurs in text.
bool contains_separator(py::handle text, py::handle sep) {
    return !sep.is_none() && pyobj::contains(text, sep);
}

}  // namespace

py::object module_file_path(py::handle self, py::handle file_stem) {
    return module_file_in(attr(self, PYOBJ_NAME("_temp_dir")), file_stem);
}

py::object module_file_in(py::handle temp_dir, py::handle file_stem) {
    py::object join = attr(os_path(), PYOBJ_NAME("join"));
    py::object folder = attr(temp_dir, PYOBJ_NAME("name"));
    return pyobj::call(join, folder, pyobj::concat(file_stem, ".py"));
}

bool refuse_unsafe_name(py::handle name, py::handle file_stem) {
    // A separator, a NUL or a dot-only name could lead out of the flat directory: refuse it
    // rather than write or remove anything anywhere else.
    // Tested on an exact str copy: format() of a key may return a str subclass whose own
    // __contains__ or __eq__ would answer these tests falsely.
    py::str text = py::reinterpret_steal<py::str>(pyobj::check(PyUnicode_FromObject(file_stem.ptr())));
    py::object os = os_module();
    py::object sep = attr(os, PYOBJ_NAME("sep")), altsep = attr(os, PYOBJ_NAME("altsep"));
    Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
    auto has_char = [&](Py_UCS4 c) {
        Py_ssize_t at = PyUnicode_FindChar(text.ptr(), c, 0, length, 1);
        if (at == -2) pyobj::throw_error();
        return at >= 0;
    };
    bool unsafe = PyUnicode_CompareWithASCIIString(text.ptr(), ".") == 0 ||
                  PyUnicode_CompareWithASCIIString(text.ptr(), "..") == 0 || has_char('/') || has_char('\\') ||
                  has_char('\0') || contains_separator(text, sep) || contains_separator(text, altsep);
    if (unsafe) pyobj::warning(PYOBJ_NAME("[LSP] Refusing unsafe module name '%s'"), name);
    return unsafe;
}

py::object sync_modules(const SyncArgs& a) {
    py::handle self = a.self;
    py::dict merged = py::reinterpret_steal<py::dict>(pyobj::check(PyDict_Copy(a.modules.ptr())));
    if (pyobj::truthy(a.dirty_files)) {
        pyobj::check(PyDict_Update(merged.ptr(), a.dirty_files.ptr()));
    }
    py::list items = py::reinterpret_steal<py::list>(pyobj::check(PyDict_Items(merged.ptr())));
    for (py::handle item : items) {
        py::handle name = PyTuple_GET_ITEM(item.ptr(), 0);
        py::handle code = PyTuple_GET_ITEM(item.ptr(), 1);
        py::str stem = pyobj::format_value(name);
        py::object file_path = module_file_path(self, stem);
        if (refuse_unsafe_name(name, stem)) continue;
        pyobj::except_exception(
            [&] {
                write_text_file(file_path, code);
                pyobj::debug(PYOBJ_NAME("[LSP] Synced module '%s' to %s"), name, file_path);
            },
            [&](py::error_already_set& e) { pyobj::warning(PYOBJ_NAME("[LSP] Failed to sync module '%s': %s"), name, e.value()); });
    }
    return py::none();
}

py::object delete_module(const ModuleNameArgs& a) {
    py::handle self = a.self;
    py::handle name = a.module_name;
    py::object file_path = module_file_path(self, name);
    if (refuse_unsafe_name(name, name)) return py::none();
    pyobj::except_exception(
        [&] {
            py::object os = os_module();
            if (pyobj::truthy(pyobj::call(attr(attr(os, path_name), PYOBJ_NAME("exists")), file_path))) {
                pyobj::call(attr(os, PYOBJ_NAME("remove")), file_path);
                pyobj::debug(PYOBJ_NAME("[LSP] Deleted module file '%s'"), name);
            }
        },
        [&](py::error_already_set& e) { pyobj::warning(PYOBJ_NAME("[LSP] Failed to delete module file '%s': %s"), name, e.value()); });
    return py::none();
}

// The same answer as path.isidentifier() for every str, but with the separator tests kept
// explicit: os.path.sep is read at call time, like every module global.
py::object is_module_name(const PathArgs& a) {
    PyObject* path = a.path.ptr();
    auto answer = [](bool value) { return py::reinterpret_borrow<py::object>(value ? Py_True : Py_False); };
    if (PyUnicode_GET_LENGTH(path) == 0) return answer(false);
    py::object sep = attr(os_path(), PYOBJ_NAME("sep"));
    bool has_sep = pyobj::contains(path, sep);
    // An identifier holds no "/" or "\\" and starts with neither "<" nor ".", so those tests
    // are settled by isidentifier() itself.
    return answer(!has_sep && PyUnicode_IsIdentifier(path) == 1);
}

}  // namespace workspace
