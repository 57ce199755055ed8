// The hover request: jedi's inference at the cursor, one part per definition in the compact or
// the detailed layout, and jedi's help as the fallback when inference finds nothing.
#include "hover/hover_format.h"
#include "hover/markdown.h"
#include "hover/methods.h"
#include "pyobj/calls.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"

namespace hover {

namespace {

py::dict nothing_to_show() { return hover_result(py::none(), py::none()); }

// A docstring is a bonus: a definition whose docstring cannot be read still gets its block.
void append_docstring(py::list& parts, py::handle definition) {
    pyobj::suppress(PyExc_Exception, [&] {
        py::object docstring = pyobj::call_method(definition, names::docstring);
        if (pyobj::truthy(docstring)) parts.append(docstring);
    });
}

// The detailed layout: the full name with the signature, the kind word or the type text, then
// the docstring as a part of its own.
void append_detailed(py::list& parts, py::handle self, py::handle definition) {
    py::object full_name = definition.attr(names::full_name);
    if (!pyobj::truthy(full_name)) full_name = definition.attr(names::name);
    parts.append(definition_block(self, definition, full_name, kDetailed));
    append_docstring(parts, definition);
}

py::dict from_inferred(py::handle self, py::handle inferred) {
    py::list parts;
    for (py::handle definition : inferred) {
        // Read per definition: a mode switched mid-request applies from the next definition.
        if (pyobj::equals(self.attr(names::hover_mode), names::compact)) {
            py::object block = pyobj::call_method(self, names::format_compact_hover, definition);
            if (pyobj::truthy(block)) parts.append(block);
        } else {
            append_detailed(parts, self, definition);
        }
    }
    py::object contents_str = py::len(parts) ? py::object(join_parts(parts)) : py::object(py::none());
    pyobj::debug(PYOBJ_NAME("[LSP] Hover: found %d definitions"), py::int_(py::len(inferred)));
    return hover_result(pyobj::truthy(contents_str) ? py::object(markdown(contents_str)) : py::object(py::none()),
                        py::none());
}

// "(desc) name" when both are known, the bare name otherwise, then the docstring.
void append_help_result(py::list& parts, py::handle h) {
    py::object name = h.attr(names::name);
    if (!pyobj::truthy(name)) name = py::str("");
    py::object desc;
    if (pyobj::get_attr_if_present(h, names::description, desc)) {
        desc = h.attr(names::description);
    } else {
        desc = py::str("");
    }
    if (pyobj::truthy(name) && pyobj::truthy(desc)) {
        py::str shown_desc = pyobj::format_value(desc);
        parts.append(fenced("(", shown_desc, ") ", pyobj::format_value(name)));
    } else if (pyobj::truthy(name)) {
        parts.append(fenced(pyobj::format_value(name)));
    }
    append_docstring(parts, h);
}

// jedi's help knows keywords and some names that inference does not; its failure only costs
// the hover text.
py::dict help_fallback(py::handle script, const workspace::Request& r) {
    pyobj::debug(PYOBJ_NAME("[LSP] infer() returned empty, trying help() as fallback"));
    py::object found = pyobj::except_exception(
        [&]() -> py::object {
            py::object help_results = workspace::call_at_position(script, names::help, r);
            if (!pyobj::truthy(help_results)) return py::none();
            py::list parts;
            for (py::handle h : help_results) append_help_result(parts, h);
            if (!py::len(parts)) return py::none();
            py::dict contents = markdown(join_parts(parts));
            pyobj::debug(PYOBJ_NAME("[LSP] Hover (from help()): found %d results"), py::int_(py::len(help_results)));
            return hover_result(contents, py::none());
        },
        [](py::error_already_set& e) -> py::object {
            pyobj::debug(PYOBJ_NAME("[LSP] help() fallback failed: %s"), e.value());
            return py::none();
        });
    if (!found.is_none()) return found;
    pyobj::debug(PYOBJ_NAME("[LSP] No type information found for hover"));
    return nothing_to_show();
}

}  // namespace

py::object get_hover(const workspace::Request& r) {
    workspace::Steps steps(PYOBJ_NAME("[LSP] Error in get_hover: %s"));
    steps.uses_jedi = true;
    steps.log_request = [&] {
        pyobj::debug(PYOBJ_NAME("[LSP] Request: get_hover line=%d, column=%d, path=%s"), r.line, r.column, r.path);
    };
    steps.ask = [&](const workspace::Jedi& jedi) -> py::object {
        py::object inferred = workspace::call_at_position(jedi.script, names::infer, r);
        if (!pyobj::truthy(inferred)) return help_fallback(jedi.script, r);
        return from_inferred(r.self, inferred);
    };
    steps.failure = [](py::str error) -> py::object { return hover_result(py::none(), error); };
    return workspace::serve(r, steps);
}

}  // namespace hover
