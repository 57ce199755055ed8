#include "diagnostics/sort_key.h"
#include "boundary/method_type.h"
#include "lsp_bridge/texts.h"
#include "pyobj/globals.h"


namespace diagnostics {

namespace {

py::object severity_of(PyObject* const* a) {
    static pyobj::Name get("get"), severity("severity");
    return py::handle(a[0]).attr(get)(py::handle(severity), 0);
}

const boundary::Param kKeyParams[] = {{"d", boundary::Kind::Untyped, false, nullptr}};

const boundary::MethodSpec kSortKey = {
    "<lambda>", "LSPBridge.get_diagnostics.<locals>.<lambda>", kKeyParams, 1, nullptr, false, nullptr,
    severity_of, "lambda",
};

}  // namespace

py::object make_sort_key() {
    py::str module_name(lsp_bridge::kModuleName);
    return boundary::make_method(kSortKey, pyobj::current_globals(), module_name);
}

}  // namespace diagnostics
