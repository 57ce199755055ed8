// The LSPBridge class, made from the method table.
#pragma once

#include "pyobj/errors.h"

namespace lsp_bridge {

// The class made from a namespace holding the methods in table order; its methods read their
// module's names from `globals` (the module dict) and take their __module__ from its __name__.
py::object make_class(py::handle globals);

}  // namespace lsp_bridge
