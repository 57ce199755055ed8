// The import entry: multi-phase initialisation with the once-per-process rules. The module body
// runs once per process; importing again (after removal from sys.modules) hands back the same
// module object, and a second interpreter in the process is refused.
#include <cstdio>

#include "lsp_bridge/module_body.h"
#include "lsp_bridge/texts.h"
#include "runtime/process_state.h"

namespace {

// The name the host imports the module by, for the one message given before the module exists;
// the module's objects take it from the module's __name__.
constexpr const char* kModuleName = "corvane_master.python_server.lsp_bridge";

#ifdef LSP_BRIDGE_PRETEND_PY_MAJOR
constexpr int kCompiledMajor = LSP_BRIDGE_PRETEND_PY_MAJOR;
constexpr int kCompiledMinor = LSP_BRIDGE_PRETEND_PY_MINOR;
#else
constexpr int kCompiledMajor = PY_MAJOR_VERSION;
constexpr int kCompiledMinor = PY_MINOR_VERSION;
#endif

// Process-wide record, guarded by the GIL: the interpreter of the first import, and the module
// once its body has run.
PyInterpreterState* g_interpreter = nullptr;
PyObject* g_module = nullptr;

int warn_on_version_mismatch() noexcept {
    int major = 0, minor = 0;
    if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) != 2) return 0;
    if (major == kCompiledMajor && minor == kCompiledMinor) return 0;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                            kCompiledMajor, kCompiledMinor, kModuleName, "does not match", major,
                            minor);
}

// Copies one attribute of the import spec into the module dict; a missing attribute is skipped.
int copy_spec_attr(PyObject* spec, const char* from, PyObject* dict, const char* to, bool skip_none) noexcept {
    PyObject* value = PyObject_GetAttrString(spec, from);
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    int rc = (skip_none && value == Py_None) ? 0 : PyDict_SetItemString(dict, to, value);
    Py_DECREF(value);
    return rc;
}

PyObject* create_module(PyObject* spec, PyModuleDef*) noexcept {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    if (g_interpreter && g_interpreter != interpreter) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per process.");
        return nullptr;
    }
    g_interpreter = interpreter;
    if (g_module) {
        Py_INCREF(g_module);
        return g_module;
    }
    PyObject* name = PyObject_GetAttrString(spec, "name");
    if (!name) return nullptr;
    PyObject* module = PyModule_NewObject(name);
    Py_DECREF(name);
    if (!module) return nullptr;
    PyObject* dict = PyModule_GetDict(module);
    if (copy_spec_attr(spec, "loader", dict, "__loader__", false) < 0 ||
        copy_spec_attr(spec, "origin", dict, "__file__", false) < 0 ||
        copy_spec_attr(spec, "parent", dict, "__package__", false) < 0 ||
        copy_spec_attr(spec, "submodule_search_locations", dict, "__path__", true) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

int exec_module(PyObject* module) noexcept {
    if (g_module) {
        if (module == g_module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'lsp_bridge' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    // On failure the import system drops the half-built module; nothing was recorded yet, so the
    // next import runs the body again from the start.
    if (lsp_bridge::run_module_body(module) < 0) return -1;
    try {
        runtime::process::install();
    } catch (...) {
        pyobj::set_error_from_current_exception();
        return -1;
    }
    Py_INCREF(module);
    g_module = module;
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "lsp_bridge",
    lsp_bridge::kModuleDoc,
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

// The C entry points here call only the C API, and run_module_body catches everything the body
// throws, so no C++ exception reaches the import system.
PyMODINIT_FUNC PyInit_lsp_bridge() noexcept {
    if (warn_on_version_mismatch() < 0) return nullptr;
    return PyModuleDef_Init(&module_def);
}
