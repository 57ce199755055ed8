// The one formatter of a jedi signature: the parameter list and return annotation, without the
// callable's name. Used by completion details, hover blocks and signature help.
#include "hover/detail_errors.h"
#include "hover/methods.h"
#include "pyobj/ops.h"

namespace hover {

namespace {

py::object from_full_text(py::handle signature) {
    py::object full_sig = signature.attr(PYOBJ_NAME("to_string"))();
    py::object paren_idx = full_sig.attr(PYOBJ_NAME("find"))("(");
    py::object result = full_sig;
    if (pyobj::compare(paren_idx, py::int_(0), Py_GE)) {
        py::object cut = pyobj::steal(PySlice_New(paren_idx.ptr(), nullptr, nullptr));
        result = pyobj::steal(PyObject_GetItem(full_sig.ptr(), cut.ptr()));
    }
    pyobj::require_str_result(result);  // inside the handler's region, so a non-str falls back
    return result;
}

// "(" + ", ".join(p.to_string() for p in signature.params) + ")", without the return annotation.
py::object from_params(py::handle signature) {
    py::list param_strs;
    for (py::handle p : signature.attr(PYOBJ_NAME("params"))) param_strs.append(p.attr(PYOBJ_NAME("to_string"))());
    py::object joined = py::str(", ").attr(PYOBJ_NAME("join"))(param_strs);
    return pyobj::concat("(", joined, ")");
}

}  // namespace

py::object format_signature(const SignatureArgs& a) {
    py::handle signature = a.signature;
    py::object types = detail_errors();
    return pyobj::except(
        types.ptr(), [&] { return from_full_text(signature); },
        [&](py::error_already_set&) {
            return pyobj::except(
                types.ptr(), [&] { return from_params(signature); },
                [](py::error_already_set&) -> py::object { return py::str(""); });
        });
}

}  // namespace hover
