#include "boundary/method_type.h"

#include <cstddef>
#include <vector>

#include <structmember.h>

#include "boundary/binder.h"

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

PyObject* method_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    MethodObject* m = as_method(self);
    return bind_and_call(*m->spec, m->param_names, m->globals, args, PyVectorcall_NARGS(nargsf), kwnames);
}

// The generic call (argument tuple and keyword dict): keyword names are checked here, since a
// mapping's keys are not guaranteed to be str, then the call takes the vectorcall path.
PyObject* method_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    MethodObject* m = as_method(self);
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject* const* items = PySequence_Fast_ITEMS(args);
    if (!kwargs || PyDict_GET_SIZE(kwargs) == 0) {
        return bind_and_call(*m->spec, m->param_names, m->globals, items, nargs, nullptr);
    }
    const Py_ssize_t nkw = PyDict_GET_SIZE(kwargs);
    py::object kwnames = py::reinterpret_steal<py::object>(PyTuple_New(nkw));
    if (!kwnames) return nullptr;
    std::vector<PyObject*> stack(items, items + nargs);
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) {
            PyErr_SetString(PyExc_TypeError, "keywords must be strings");
            return nullptr;
        }
        Py_INCREF(key);
        PyTuple_SET_ITEM(kwnames.ptr(), k++, key);
        stack.push_back(value);
    }
    // The dict owns the values; keep it alive while they sit on the borrowed stack.
    py::object hold = py::reinterpret_borrow<py::object>(kwargs);
    return bind_and_call(*m->spec, m->param_names, m->globals, stack.data(), nargs, kwnames.ptr());
}

PyObject* method_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, obj);
}

PyObject* method_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", as_method(self)->qualname, self);
}

int method_traverse(PyObject* self, visitproc visit, void* arg) {
    MethodObject* m = as_method(self);
    Py_VISIT(m->globals);
    Py_VISIT(m->annotations);
    Py_VISIT(m->defaults);
    return 0;
}

int method_clear(PyObject* self) {
    MethodObject* m = as_method(self);
    Py_CLEAR(m->globals);
    Py_CLEAR(m->annotations);
    Py_CLEAR(m->defaults);
    return 0;
}

void method_dealloc(PyObject* self) {
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
    t.tp_name = "lsp_bridge.method";
    t.tp_basicsize = sizeof(MethodObject);
    t.tp_dealloc = method_dealloc;
    t.tp_vectorcall_offset = offsetof(MethodObject, vectorcall);
    t.tp_repr = method_repr;
    t.tp_call = method_call;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR;
    t.tp_doc = "A method of LSPBridge.";
    t.tp_traverse = method_traverse;
    t.tp_clear = method_clear;
    t.tp_members = method_members;
    t.tp_descr_get = method_get;
    return t;
}();

const char* kind_name(Kind kind) {
    switch (kind) {
        case Kind::Int: return "int";
        case Kind::Str: return "str";
        case Kind::Dict: return "dict";
        case Kind::List: return "list";
        case Kind::Untyped: break;
    }
    return nullptr;
}

py::object annotations_of(const MethodSpec& spec) {
    py::dict result;
    for (int i = 0; i < spec.nparams; ++i) {
        const Param& p = spec.params[i];
        if (p.kind == Kind::Untyped) continue;
        result[p.name] = py::str(p.annotation ? p.annotation : kind_name(p.kind));
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

py::object text_or_none(const char* text) { return text ? py::object(py::str(text)) : py::object(py::none()); }

}  // namespace

void ready_method_type() {
    if (PyType_Ready(&method_type) < 0) pyobj::throw_error();
}

py::object make_method(const MethodSpec& spec, py::handle globals, py::handle module_name) {
    if (spec.nparams > kMaxParams) throw std::logic_error("method row has too many parameters");
    // Build every attribute before the object exists, so a failure leaves nothing half-made.
    py::object name = py::str(spec.name);
    py::object qualname = py::str(spec.qualname);
    py::object doc = text_or_none(spec.doc);
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
    m->module = module_name.inc_ref().ptr();
    m->doc = doc.release().ptr();
    m->annotations = annotations.release().ptr();
    m->defaults = defaults.release().ptr();
    for (int i = 0; i < kMaxParams; ++i) m->param_names[i] = param_names[i].release().ptr();
    PyObject_GC_Track(m);
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(m));
}

bool is_method_with_body(PyObject* obj, Body body) {
    return Py_TYPE(obj) == &method_type && as_method(obj)->spec->body == body;
}

}  // namespace boundary
