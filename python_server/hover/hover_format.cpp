// One definition as a hover block, in either layout ("(type) name: signature" when compact), and
// the type text of a definition that is neither a function, a class nor a module.
#include "hover/hover_format.h"

#include "hover/markdown.h"
#include "hover/methods.h"
#include "pyobj/calls.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"

namespace hover {

namespace {

py::str function_block(py::handle self, py::handle definition, const char* label, py::handle name) {
    // A function whose signature cannot be had is still worth its plain block, and is no
    // failure worth a log line.
    return pyobj::except_exception(
        [&] {
            py::object signatures = pyobj::call_method(definition, names::get_signatures);
            if (pyobj::truthy(signatures)) {
                py::object first = signatures[py::int_(0)];
                py::object sig_str = pyobj::call_method(self, names::format_signature, first);
                py::str shown_name = pyobj::format_value(name);
                return fenced(label, shown_name, pyobj::format_value(sig_str));
            }
            return fenced(label, pyobj::format_value(name));
        },
        [&](py::error_already_set&) { return fenced(label, pyobj::format_value(name)); });
}

py::object compact_block(py::handle self, py::handle definition) {
    py::object name = definition.attr(names::name);
    if (!pyobj::truthy(name)) name = py::str("");
    return definition_block(self, definition, name, kCompact);
}

}  // namespace

py::str definition_block(py::handle self, py::handle definition, py::handle name, const Layout& layout) {
    py::object def_type = definition.attr(names::type);
    if (pyobj::equals(def_type, names::function)) return function_block(self, definition, layout.function, name);
    if (pyobj::equals(def_type, names::class_)) return fenced(layout.class_, pyobj::format_value(name));
    if (pyobj::equals(def_type, names::module)) return fenced(layout.module, pyobj::format_value(name));
    py::object type_desc = pyobj::call_method(self, names::get_type_description, definition, def_type);
    if (layout.type_label) {
        py::str shown_type = pyobj::format_value(def_type);
        py::str shown_name = pyobj::format_value(name);
        return fenced("(", shown_type, ") ", shown_name, ": ", pyobj::format_value(type_desc));
    }
    py::str shown_name = pyobj::format_value(name);
    return fenced(shown_name, ": ", pyobj::format_value(type_desc));
}

py::object format_compact_hover(const DefinitionArgs& a) {
    py::handle self = a.self;
    py::handle definition = a.definition;
    return pyobj::except_exception(
        [&] { return compact_block(self, definition); },
        [](py::error_already_set& e) -> py::object {
            // Built before the call: the exception text may hold a percent sign.
            py::str text = pyobj::steal(PyObject_Str(e.value().ptr()));
            pyobj::debug(pyobj::concat("[LSP] Error formatting compact hover: ", text));
            return py::none();
        });
}

py::object get_type_description(const TypeDescriptionArgs& a) {
    py::handle definition = a.definition;
    py::handle fallback_type = a.fallback_type;
    // Each read is a fresh look-up, as jedi may compute the description on every access.
    py::object present;
    if (pyobj::get_attr_if_present(definition, names::description, present) &&
        pyobj::truthy(definition.attr(names::description))) {
        return definition.attr(names::description);
    }
    return py::reinterpret_borrow<py::object>(fallback_type);
}

}  // namespace hover
