// The signature-help request: the first signature jedi reports for the call at the cursor, in
// the shape of a Monaco signature, and the index of the parameter the cursor is on.
#include "hover/detail_errors.h"
#include "hover/methods.h"
#include "hover/names.h"
#include "pyobj/calls.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"

namespace hover {

namespace {

py::dict help_result(py::handle signatures, py::handle active_parameter, py::handle error) {
    py::dict result;
    pyobj::set_item(result, names::signatures, signatures);
    pyobj::set_item(result, names::active_signature, py::int_(0));
    pyobj::set_item(result, names::active_parameter, active_parameter);
    pyobj::set_item(result, names::error, error);
    return result;
}

// {"label": name} plus "documentation" when jedi describes the parameter; a parameter whose
// description cannot be read keeps its label.
py::dict monaco_parameter(py::handle param) {
    py::dict info;
    pyobj::set_item(info, names::label, param.attr(names::name));
    py::object types = detail_errors();
    pyobj::suppress(types.ptr(), [&] {
        py::object param_desc = param.attr(names::description);
        if (pyobj::truthy(param_desc)) pyobj::set_item(info, names::documentation, param_desc);
    });
    return info;
}

py::object raw_docstring(py::handle sig) {
    py::object types = detail_errors();
    return pyobj::except(
        types.ptr(),
        [&]() -> py::object {
            static pyobj::KeywordNames raw{"raw"};
            py::object docstring = pyobj::call_method_kw(sig, names::docstring, &raw, Py_True);
            return pyobj::truthy(docstring) ? docstring : py::str("");
        },
        [](py::error_already_set&) -> py::object { return py::str(""); });
}

py::dict from_signature(py::handle self, py::handle sig) {
    py::list params;
    for (py::handle param : sig.attr(names::params)) params.append(monaco_parameter(param));
    py::object sig_label = pyobj::call_method(self, names::format_signature, sig);
    py::object docstring = raw_docstring(sig);
    py::object sig_name = sig.attr(names::name);
    if (!pyobj::truthy(sig_name)) sig_name = py::str("function");

    py::dict monaco_signature;
    pyobj::set_item(monaco_signature, names::label, pyobj::steal(PyNumber_Add(sig_name.ptr(), sig_label.ptr())));
    pyobj::set_item(monaco_signature, names::documentation, docstring);
    pyobj::set_item(monaco_signature, names::parameters, params);

    // jedi computes the index on every read; once is enough.
    py::object index = sig.attr(names::index);
    py::object active_param = index.is_none() ? py::object(py::int_(0)) : index;
    py::list signatures;
    signatures.append(monaco_signature);
    py::dict response = help_result(signatures, active_param, py::none());
    pyobj::debug(PYOBJ_NAME("[LSP] Signature help: %s, activeParam=%d"), sig.attr(names::name), active_param);
    return response;
}

}  // namespace

py::object get_signature_help(const workspace::Request& r) {
    workspace::Steps steps(PYOBJ_NAME("[LSP] Error in get_signature_help: %s"));
    steps.uses_jedi = true;
    steps.log_request = [&] {
        pyobj::debug(PYOBJ_NAME("[LSP] Request: get_signature_help line=%d, column=%d, path=%s"), r.line, r.column,
                     r.path);
    };
    steps.ask = [&](const workspace::Jedi& jedi) -> py::object {
        py::object signatures = workspace::call_at_position(jedi.script, names::get_signatures, r);
        if (!pyobj::truthy(signatures)) {
            pyobj::debug(PYOBJ_NAME("[LSP] No signatures found"));
            return help_result(py::list(), py::int_(0), py::none());
        }
        return from_signature(r.self, signatures[py::int_(0)]);
    };
    steps.failure = [](py::str error) -> py::object { return help_result(py::list(), py::int_(0), error); };
    return workspace::serve(r, steps);
}

}  // namespace hover
