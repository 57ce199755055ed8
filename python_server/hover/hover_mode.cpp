// The hover mode: "compact" or "detailed", read by get_hover for each definition it shows.
#include "hover/methods.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"

namespace hover {

py::object set_hover_mode(const ModeArgs& a) {
    py::handle self = a.self;
    py::handle mode = a.mode;
    // The messages are built before the call, so a percent sign in `mode` is logged unchanged.
    if (mode.equal(py::str("compact")) || mode.equal(py::str("detailed"))) {
        py::setattr(self, "_hover_mode", mode);
        pyobj::info(pyobj::concat("[LSP] Hover mode set to: ", mode));
    } else {
        pyobj::warning(pyobj::concat("[LSP] Invalid hover mode '", mode, "', keeping current: ",
                                     pyobj::format_value(self.attr(PYOBJ_NAME("_hover_mode")))));
    }
    return py::none();
}

}  // namespace hover
