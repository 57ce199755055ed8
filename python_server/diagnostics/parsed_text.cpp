#include "diagnostics/parsed_text.h"

#include "pyobj/globals.h"

namespace diagnostics {

namespace {
// Set and read only by the thread's own requests, under the GIL.
thread_local ParsedText* t_lent = nullptr;
}  // namespace

ParsedText::ParsedText(py::handle code, py::handle tree) : code_(code), tree_(tree), outer_(t_lent) {
    t_lent = this;
}

ParsedText::~ParsedText() { t_lent = outer_; }

py::object ParsedText::tree_of(py::handle code) {
    // The request holds its text for as long as it lends the tree, so no other str can have its
    // address meanwhile.
    if (!t_lent || !t_lent->tree_ || t_lent->code_.ptr() != code.ptr()) return py::object();
    return py::reinterpret_borrow<py::object>(t_lent->tree_);
}

bool ParsedText::is_module_tree(py::handle tree) {
    // The real module, not the global a host may have replaced: pyflakes checks only real trees.
    py::object module_type = pyobj::attr(pyobj::import(PYOBJ_NAME("ast")), PYOBJ_NAME("Module"));
    return Py_TYPE(tree.ptr()) == reinterpret_cast<PyTypeObject*>(module_type.ptr());
}

}  // namespace diagnostics
