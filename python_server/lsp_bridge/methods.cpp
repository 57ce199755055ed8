// The method table of LSPBridge, in class-body order (the order of the class dict), and the
// class made from it. Each row names the method, its return annotation, whether its str result
// is checked, its docstring and its body; the parameters come from the body's own argument
// struct in its feature folder.
#include "boundary/method_type.h"
#include "completion/methods.h"
#include "diagnostics/methods.h"
#include "hover/methods.h"
#include "lsp_bridge/docstrings.h"
#include "lsp_bridge/module_body.h"
#include "lsp_bridge/texts.h"
#include "workspace/collector_pause.h"
#include "workspace/methods.h"

namespace lsp_bridge {

namespace {

using boundary::MethodSpec;

#define ROW(name, ret, check_str, docname, body) boundary::method<&body>(name, "LSPBridge." name, ret, check_str, doc::docname)

// Diagnostics runs with the cyclic collector paused; the jedi requests pause it once they hold
// the jedi lock (workspace::RequestLock), so that waiting for jedi pauses nothing.
using workspace::with_collector_paused;

constexpr MethodSpec kMethods[] = {
    ROW("__init__", nullptr, false, init, workspace::init),
    ROW("preload_corvane_module", "None", false, preload_corvane_module, workspace::preload_corvane_module),
    ROW("preload_corvane_module_async", "None", false, preload_corvane_module_async,
        workspace::preload_corvane_module_async),
    ROW("cleanup", "None", false, cleanup, workspace::cleanup),
    ROW("set_hover_mode", "None", false, set_hover_mode, hover::set_hover_mode),
    ROW("update_sys_paths", "None", false, update_sys_paths, workspace::update_sys_paths),
    ROW("_get_word_prefix", "str", true, get_word_prefix, completion::get_word_prefix),
    ROW("_format_signature", "str", true, format_signature, hover::format_signature),
    ROW("_format_compact_hover", "Optional[str]", false, format_compact_hover, hover::format_compact_hover),
    ROW("_get_type_description", "str", true, get_type_description, hover::get_type_description),
    ROW("_is_module_name", "bool", false, is_module_name, workspace::is_module_name),
    ROW("sync_modules", "None", false, sync_modules, workspace::sync_modules),
    ROW("delete_module", nullptr, false, delete_module, workspace::delete_module),
    ROW("get_completions", "Dict[str, Any]", false, get_completions, completion::get_completions),
    ROW("set_workspace", nullptr, false, set_workspace, workspace::set_workspace),
    ROW("get_signature_help", "Dict[str, Any]", false, get_signature_help, hover::get_signature_help),
    ROW("get_hover", "Dict[str, Any]", false, get_hover, hover::get_hover),
    ROW("get_diagnostics", "Dict[str, Any]", false, get_diagnostics, with_collector_paused<diagnostics::get_diagnostics>),
    ROW("_run_pyflakes", "List[Dict[str, Any]]", false, run_pyflakes, diagnostics::run_pyflakes),
    ROW("_parse_pyflakes_message", "Optional[Dict[str, Any]]", false, parse_pyflakes_message,
        diagnostics::parse_pyflakes_message),
    ROW("_check_unresolved_imports", "List[Dict[str, Any]]", false, check_unresolved_imports,
        diagnostics::check_unresolved_imports),
    ROW("_can_resolve_import", "bool", false, can_resolve_import, diagnostics::can_resolve_import),
};

#undef ROW

}  // namespace

py::object make_class(py::handle globals) {
    boundary::ready_method_type();
    py::dict ns;
    ns["__module__"] = py::str(boundary::kModuleName);
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
