// The method table of LSPBridge, in class-body order (the order of the class dict), and the
// class made from it. Each row names the method, its return annotation, its docstring and its
// body; the parameters come from the body's own argument struct, and the docstring from the
// feature's docstrings.h, whose Args must name those parameters for the row to compile.
#include "lsp_bridge/method_table.h"

#include "boundary/method_type.h"
#include "completion/docstrings.h"
#include "completion/methods.h"
#include "diagnostics/docstrings.h"
#include "diagnostics/methods.h"
#include "hover/docstrings.h"
#include "hover/methods.h"
#include "lsp_bridge/texts.h"
#include "workspace/docstrings.h"
#include "workspace/methods.h"

namespace lsp_bridge {

namespace {

using boundary::MethodSpec;

#define ROW(name, ret, text, body) \
    boundary::method<&body>(boundary::Row(name).qualname("LSPBridge." name).returns(ret).doc(text))

constexpr MethodSpec kMethods[] = {
    ROW("__init__", nullptr, workspace::doc::init, workspace::init),
    ROW("preload_corvane_module", "None", workspace::doc::preload_corvane_module, workspace::preload_corvane_module),
    ROW("preload_corvane_module_async", "None", workspace::doc::preload_corvane_module_async,
        workspace::preload_corvane_module_async),
    ROW("cleanup", "None", workspace::doc::cleanup, workspace::cleanup),
    ROW("set_hover_mode", "None", hover::doc::set_hover_mode, hover::set_hover_mode),
    ROW("update_sys_paths", "None", workspace::doc::update_sys_paths, workspace::update_sys_paths),
    ROW("_get_word_prefix", "str", completion::doc::get_word_prefix, completion::get_word_prefix),
    ROW("_format_signature", "str", hover::doc::format_signature, hover::format_signature),
    ROW("_format_compact_hover", "Optional[str]", hover::doc::format_compact_hover, hover::format_compact_hover),
    ROW("_get_type_description", "str", hover::doc::get_type_description, hover::get_type_description),
    ROW("_is_module_name", "bool", workspace::doc::is_module_name, workspace::is_module_name),
    ROW("sync_modules", "None", workspace::doc::sync_modules, workspace::sync_modules),
    ROW("delete_module", nullptr, workspace::doc::delete_module, workspace::delete_module),
    ROW("get_completions", "Dict[str, Any]", completion::doc::get_completions, completion::get_completions),
    ROW("set_workspace", nullptr, workspace::doc::set_workspace, workspace::set_workspace),
    ROW("get_signature_help", "Dict[str, Any]", hover::doc::get_signature_help, hover::get_signature_help),
    ROW("get_hover", "Dict[str, Any]", hover::doc::get_hover, hover::get_hover),
    ROW("get_diagnostics", "Dict[str, Any]", diagnostics::doc::get_diagnostics, diagnostics::get_diagnostics),
    ROW("_run_pyflakes", "List[Dict[str, Any]]", diagnostics::doc::run_pyflakes, diagnostics::run_pyflakes),
    ROW("_parse_pyflakes_message", "Optional[Dict[str, Any]]", diagnostics::doc::parse_pyflakes_message,
        diagnostics::parse_pyflakes_message),
    ROW("_check_unresolved_imports", "List[Dict[str, Any]]", diagnostics::doc::check_unresolved_imports,
        diagnostics::check_unresolved_imports),
    ROW("_can_resolve_import", "bool", diagnostics::doc::can_resolve_import, diagnostics::can_resolve_import),
};

#undef ROW

}  // namespace

py::object make_class(py::handle globals) {
    // type(method) reads as a class of this module, shown by its short name.
    boundary::ready_method_type(/*tp_name=*/"lsp_bridge.method", /*tp_doc=*/"A method of LSPBridge.");
    py::dict ns;
    ns["__module__"] = globals["__name__"];  // as a class body takes it
    ns["__qualname__"] = py::str("LSPBridge");
    ns["__doc__"] = py::str(kClassDoc);
    for (const MethodSpec& spec : kMethods) {
        ns[spec.name] = boundary::make_method(spec, globals);
    }
    py::handle type_type(reinterpret_cast<PyObject*>(&PyType_Type));
    py::handle object_type(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    return type_type(py::str("LSPBridge"), py::make_tuple(object_type), ns);
}

}  // namespace lsp_bridge
