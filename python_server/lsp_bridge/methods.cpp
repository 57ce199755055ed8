// The method table of LSPBridge, in class-body order, and the class made from it.
#include "boundary/method_type.h"
#include "lsp_bridge/bodies.h"
#include "lsp_bridge/docstrings.h"
#include "lsp_bridge/module_body.h"
#include "lsp_bridge/texts.h"
#include "workspace/collector_pause.h"

namespace lsp_bridge {

namespace {

using boundary::Kind;
using boundary::MethodSpec;
using boundary::Param;

constexpr Param kSelf{"self", Kind::Untyped, false, nullptr};

const Param p_self[] = {kSelf};
const Param p_mode[] = {kSelf, {"mode", Kind::Str, false, nullptr}};
const Param p_new_paths[] = {kSelf, {"new_paths", Kind::List, false, "List[str]"}};
const Param p_code_pos[] = {kSelf, {"code", Kind::Str, false, nullptr}, {"line", Kind::Int, false, nullptr},
                            {"column", Kind::Int, false, nullptr}};
const Param p_signature[] = {kSelf, {"signature", Kind::Untyped, false, nullptr}};
const Param p_definition[] = {kSelf, {"definition", Kind::Untyped, false, nullptr}};
const Param p_type_desc[] = {kSelf, {"definition", Kind::Untyped, false, nullptr},
                             {"fallback_type", Kind::Str, false, nullptr}};
const Param p_path[] = {kSelf, {"path", Kind::Str, false, nullptr}};
const Param p_sync[] = {kSelf, {"modules", Kind::Dict, false, "Dict[str, str]"},
                        {"dirty_files", Kind::Dict, true, "Optional[Dict[str, str]]"}};
const Param p_module_name[] = {kSelf, {"module_name", Kind::Str, false, nullptr}};
const Param p_request[] = {kSelf,
                           {"code", Kind::Str, false, nullptr},
                           {"line", Kind::Int, false, nullptr},
                           {"column", Kind::Int, false, nullptr},
                           {"path", Kind::Str, true, "Optional[str]"},
                           {"modules", Kind::Dict, true, "Optional[Dict[str, str]]"},
                           {"dirty_files", Kind::Dict, true, "Optional[Dict[str, str]]"}};
const Param p_workspace[] = {kSelf, {"workspace_path", Kind::Str, false, nullptr}};
const Param p_code_module[] = {kSelf, {"code", Kind::Str, false, nullptr},
                               {"module_name", Kind::Str, true, "Optional[str]"}};
const Param p_pyflakes[] = {kSelf, {"code", Kind::Str, false, nullptr}, {"filename", Kind::Str, false, nullptr}};
const Param p_message[] = {kSelf, {"message", Kind::Str, false, nullptr}, {"severity", Kind::Int, false, nullptr}};

template <size_t N>
constexpr int count(const Param (&)[N]) {
    return static_cast<int>(N);
}

// The four requests run with the cyclic collector paused.
template <boundary::Body body>
constexpr boundary::Body paused = workspace::with_collector_paused<body>;

#define ROW(name, params, ret, check_str, docname, body) \
    MethodSpec { name, "LSPBridge." name, params, count(params), ret, check_str, doc::docname, body }

const MethodSpec kMethods[] = {
    ROW("__init__", p_self, nullptr, false, init, lifecycle::init),
    ROW("preload_corvane_module", p_self, "None", false, preload_corvane_module, workspace::preload_corvane_module),
    ROW("preload_corvane_module_async", p_self, "None", false, preload_corvane_module_async,
        workspace::preload_corvane_module_async),
    ROW("cleanup", p_self, "None", false, cleanup, lifecycle::cleanup),
    ROW("set_hover_mode", p_mode, "None", false, set_hover_mode, lifecycle::set_hover_mode),
    ROW("update_sys_paths", p_new_paths, "None", false, update_sys_paths, workspace::update_sys_paths),
    ROW("_get_word_prefix", p_code_pos, "str", true, get_word_prefix, completion::get_word_prefix),
    ROW("_format_signature", p_signature, "str", true, format_signature, hover::format_signature),
    ROW("_format_compact_hover", p_definition, "Optional[str]", false, format_compact_hover,
        hover::format_compact_hover),
    ROW("_get_type_description", p_type_desc, "str", true, get_type_description, hover::get_type_description),
    ROW("_is_module_name", p_path, "bool", false, is_module_name, workspace::is_module_name),
    ROW("sync_modules", p_sync, "None", false, sync_modules, workspace::sync_modules),
    ROW("delete_module", p_module_name, nullptr, false, delete_module, workspace::delete_module),
    ROW("get_completions", p_request, "Dict[str, Any]", false, get_completions, paused<completion::get_completions>),
    ROW("set_workspace", p_workspace, nullptr, false, set_workspace, workspace::set_workspace),
    ROW("get_signature_help", p_request, "Dict[str, Any]", false, get_signature_help,
        paused<hover::get_signature_help>),
    ROW("get_hover", p_request, "Dict[str, Any]", false, get_hover, paused<hover::get_hover>),
    ROW("get_diagnostics", p_code_module, "Dict[str, Any]", false, get_diagnostics,
        paused<diagnostics::get_diagnostics>),
    ROW("_run_pyflakes", p_pyflakes, "List[Dict[str, Any]]", false, run_pyflakes, diagnostics::run_pyflakes),
    ROW("_parse_pyflakes_message", p_message, "Optional[Dict[str, Any]]", false, parse_pyflakes_message,
        diagnostics::parse_pyflakes_message),
    ROW("_check_unresolved_imports", p_code_module, "List[Dict[str, Any]]", false, check_unresolved_imports,
        diagnostics::check_unresolved_imports),
    ROW("_can_resolve_import", p_module_name, "bool", false, can_resolve_import, diagnostics::can_resolve_import),
};

#undef ROW

}  // namespace

py::object make_class(py::handle globals) {
    boundary::ready_method_type();
    py::str module_name(kModuleName);
    py::dict ns;
    ns["__module__"] = module_name;
    ns["__qualname__"] = py::str("LSPBridge");
    ns["__doc__"] = py::str(kClassDoc);
    for (const MethodSpec& spec : kMethods) {
        ns[spec.name] = boundary::make_method(spec, globals, module_name);
    }
    py::handle type_type(reinterpret_cast<PyObject*>(&PyType_Type));
    py::handle object_type(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    return type_type(py::str("LSPBridge"), py::make_tuple(object_type), ns);
}

}  // namespace lsp_bridge
