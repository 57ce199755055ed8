#include "diagnostics/sort_key.h"

#include "boundary/args.h"
#include "boundary/method_type.h"
#include "pyobj/globals.h"

namespace diagnostics {

namespace {

#define SORT_KEY_PARAMS(P) P(d, Untyped, required, nullptr)
BOUNDARY_ARGS(KeyArgs, SORT_KEY_PARAMS);
#undef SORT_KEY_PARAMS

py::object severity_of(const KeyArgs& a) {
    return a.d.attr(PYOBJ_NAME("get"))(py::handle(PYOBJ_NAME("severity")), 0);
}

constexpr boundary::MethodSpec kSortKey = boundary::method<&severity_of>(
    boundary::Row("<lambda>").qualname("LSPBridge.get_diagnostics.<locals>.<lambda>").refusal_name("lambda"));

}  // namespace

py::object make_sort_key() { return boundary::make_method(kSortKey, pyobj::current_globals()); }

}  // namespace diagnostics
