#include "boundary/method_type.h"

#include <cstring>

#include <cstddef>
#include <string>

#include <structmember.h>

#include "boundary/binder.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace boundary {

namespace {

struct MethodObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const MethodSpec* spec;
    PyObject* globals;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* annotations;
    PyObject* defaults;
    PyObject* param_names[kMaxParams];
};

MethodObject* as_method(PyObject* self) { return reinterpret_cast<MethodObject*>(self); }

// Every slot below is a C entry point: none lets a C++ exception out. The binder and the body
// runner catch at the one place (pyobj::set_error_from_current_exception); the other slots call
// only the C API.
PyObject* method_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) noexcept {
    MethodObject* m = as_method(self);
    return bind_and_call(*m->spec, m->param_names, m->globals, args, PyVectorcall_NARGS(nargsf), kwnames);
}

PyObject* method_get(PyObject* self, PyObject* obj, PyObject*) noexcept {
    if (obj == nullptr || obj == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, obj);
}

PyObject* method_repr(PyObject* self) noexcept {
    return PyUnicode_FromFormat("<function %U at %p>", as_method(self)->qualname, self);
}

int method_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    MethodObject* m = as_method(self);
    Py_VISIT(m->globals);
    Py_VISIT(m->annotations);
    Py_VISIT(m->defaults);
    return 0;
}

int method_clear(PyObject* self) noexcept {
    MethodObject* m = as_method(self);
    Py_CLEAR(m->globals);
    Py_CLEAR(m->annotations);
    Py_CLEAR(m->defaults);
    return 0;
}

void method_dealloc(PyObject* self) noexcept {
    MethodObject* m = as_method(self);
    PyObject_GC_UnTrack(self);
    method_clear(self);
    Py_CLEAR(m->name);
    Py_CLEAR(m->qualname);
    Py_CLEAR(m->module);
    Py_CLEAR(m->doc);
    for (PyObject*& p : m->param_names) Py_CLEAR(p);
    PyObject_GC_Del(self);
}

PyMemberDef method_members[] = {
    {const_cast<char*>("__name__"), T_OBJECT, offsetof(MethodObject, name), READONLY, nullptr},
    {const_cast<char*>("__qualname__"), T_OBJECT, offsetof(MethodObject, qualname), READONLY, nullptr},
    {const_cast<char*>("__module__"), T_OBJECT, offsetof(MethodObject, module), READONLY, nullptr},
    {const_cast<char*>("__doc__"), T_OBJECT, offsetof(MethodObject, doc), READONLY, nullptr},
    {const_cast<char*>("__annotations__"), T_OBJECT, offsetof(MethodObject, annotations), READONLY, nullptr},
    {const_cast<char*>("__defaults__"), T_OBJECT, offsetof(MethodObject, defaults), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject method_type = [] {
    PyTypeObject t{};
    Py_SET_REFCNT(&t, 1);
    t.tp_basicsize = sizeof(MethodObject);
    t.tp_dealloc = method_dealloc;
    t.tp_vectorcall_offset = offsetof(MethodObject, vectorcall);
    t.tp_repr = method_repr;
    // The generic call (argument tuple and keyword dict) unpacks into the vectorcall, as a
    // Python function's does; a keyword that is not a str is refused there.
    t.tp_call = PyVectorcall_Call;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR;
    t.tp_traverse = method_traverse;
    t.tp_clear = method_clear;
    t.tp_members = method_members;
    t.tp_descr_get = method_get;
    return t;
}();

py::object annotations_of(const MethodSpec& spec) {
    py::dict result;
    for (int i = 0; i < spec.nparams; ++i) {
        const Param& p = spec.params[i];
        if (p.kind == Kind::Untyped) continue;
        result[p.name] = py::str(p.annotation ? p.annotation : kind_row(p.kind).name);
    }
    if (spec.return_annotation) result["return"] = py::str(spec.return_annotation);
    return std::move(result);
}

py::object defaults_of(const MethodSpec& spec) {
    int count = 0;
    for (int i = 0; i < spec.nparams; ++i) count += spec.params[i].defaults_to_none ? 1 : 0;
    if (count == 0) return py::none();
    py::tuple result(count);
    for (int i = 0; i < count; ++i) result[i] = py::none();
    return std::move(result);
}

// "LSPBridge.name(self, str code: str, str path: Optional[str] = None) -> Dict[str, Any]": the
// qualified name, each parameter as "<type> name: <annotation>" (untyped ones bare), the return
// annotation when there is one.
std::string signature_line(const MethodSpec& spec) {
    std::string line = std::string(spec.qualname) + "(";
    for (int i = 0; i < spec.nparams; ++i) {
        const Param& p = spec.params[i];
        if (i > 0) line += ", ";
        if (p.kind == Kind::Untyped) {
            line += p.name;
            continue;
        }
        const char* type = kind_row(p.kind).name;
        line += std::string(type) + " " + p.name + ": " + (p.annotation ? p.annotation : type);
        if (p.defaults_to_none) line += " = None";
    }
    line += ")";
    if (spec.return_annotation) line += std::string(" -> ") + spec.return_annotation;
    return line;
}

py::object doc_of(const MethodSpec& spec) {
    if (!spec.doc) return py::none();
    return py::str(signature_line(spec) + "\n\n" + spec.doc);
}

// globals["__name__"], or None when it has none: a function's __module__.
py::object module_of(py::handle globals) {
    py::object module = pyobj::dict_get(globals, PYOBJ_NAME("__name__"));
    return module ? module : py::none();
}

}  // namespace

void ready_method_type(const char* tp_name, const char* tp_doc) {
    if (method_type.tp_flags & Py_TPFLAGS_READY) return;
    method_type.tp_name = tp_name;
    method_type.tp_doc = tp_doc;
    pyobj::check(PyType_Ready(&method_type));
}

py::object make_method(const MethodSpec& spec, py::handle globals) {
    // Build every attribute before the object exists, so a failure leaves nothing half-made.
    py::object module_name = module_of(globals);
    py::object name = py::str(spec.name);
    py::object qualname = py::str(spec.qualname);
    py::object doc = doc_of(spec);
    py::object annotations = annotations_of(spec);
    py::object defaults = defaults_of(spec);
    py::object param_names[kMaxParams];
    for (int i = 0; i < spec.nparams; ++i) {
        param_names[i] = pyobj::steal(PyUnicode_InternFromString(spec.params[i].name));
    }

    MethodObject* m = PyObject_GC_New(MethodObject, &method_type);
    if (!m) pyobj::throw_error();
    m->vectorcall = method_vectorcall;
    m->spec = &spec;
    m->globals = globals.inc_ref().ptr();
    m->name = name.release().ptr();
    m->qualname = qualname.release().ptr();
    m->module = module_name.release().ptr();
    m->doc = doc.release().ptr();
    m->annotations = annotations.release().ptr();
    m->defaults = defaults.release().ptr();
    for (int i = 0; i < kMaxParams; ++i) m->param_names[i] = param_names[i].release().ptr();
    PyObject_GC_Track(m);
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(m));
}

bool is_method_named(PyObject* obj, const char* name) {
    return Py_TYPE(obj) == &method_type && std::strcmp(as_method(obj)->spec->name, name) == 0;
}

}  // namespace boundary
