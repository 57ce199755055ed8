#include "item_cache/instance_members.h"

#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"

namespace item_cache {

namespace {

using pyobj::attr;

// Decorators whose result jedi binds to an instance as it binds the plain function. (property's
// getter would run with the instance: only a name jedi types "property" skips that.)
bool binds_nothing_of_its_own(py::handle decorator) {
    py::object expression = pyobj::steal(PySequence_GetItem(attr(decorator, PYOBJ_NAME("children")).ptr(), 1));
    py::object text = pyobj::call_method(expression, PYOBJ_NAME("get_code"), py::bool_(false));
    for (const char* plain : {"overload", "typing.overload", "abstractmethod", "abc.abstractmethod", "staticmethod",
                              "classmethod"}) {
        if (pyobj::equals(text, py::str(plain))) return true;
    }
    return false;
}

// Every definition of `member` in the class: no star parameter, no other decorator.
bool plain_definitions(py::handle classdef, py::handle member) {
    for (py::handle funcdef : pyobj::call_method(classdef, PYOBJ_NAME("iter_funcdefs"))) {
        if (!pyobj::equals(attr(attr(funcdef, PYOBJ_NAME("name")), PYOBJ_NAME("value")), member)) continue;
        for (py::handle param : pyobj::call_method(funcdef, PYOBJ_NAME("get_params"))) {
            if (pyobj::truthy(attr(param, PYOBJ_NAME("star_count")))) return false;
        }
        for (py::handle decorator : pyobj::call_method(funcdef, PYOBJ_NAME("get_decorators"))) {
            if (!binds_nothing_of_its_own(decorator)) return false;
        }
    }
    return true;
}

}  // namespace

InstanceMembers::InstanceMembers()
    : instance_name_type_(
          attr(pyobj::import(PYOBJ_NAME("jedi.inference.value.instance")), PYOBJ_NAME("LazyInstanceClassName"))),
      class_name_type_(attr(pyobj::import(PYOBJ_NAME("jedi.inference.value.klass")), PYOBJ_NAME("ClassName"))) {}

py::object InstanceMembers::plain_member(py::handle name) const {
    if (reinterpret_cast<PyObject*>(Py_TYPE(name.ptr())) != instance_name_type_.ptr()) return py::object();
    py::object member = attr(name, PYOBJ_NAME("_wrapped_name"));
    if (reinterpret_cast<PyObject*>(Py_TYPE(member.ptr())) != class_name_type_.ptr()) return py::object();
    py::object api_type = attr(member, PYOBJ_NAME("api_type"));
    // A property's item infers nothing: no signature, and the docstring of its definitions.
    if (pyobj::equals(api_type, PYOBJ_NAME("property"))) return member;
    if (!pyobj::equals(api_type, PYOBJ_NAME("function"))) return py::object();
    py::object tree_name = attr(member, PYOBJ_NAME("tree_name"));
    py::object definition = pyobj::call_method(tree_name, PYOBJ_NAME("get_definition"));
    if (definition.is_none()) return py::object();
    py::object scope = pyobj::call_method(definition, PYOBJ_NAME("search_ancestor"), py::str("classdef"),
                                          py::str("funcdef"), py::str("lambdef"));
    if (scope.is_none() || !pyobj::equals(attr(scope, PYOBJ_NAME("type")), PYOBJ_NAME("classdef"))) return py::object();
    if (!plain_definitions(scope, attr(tree_name, PYOBJ_NAME("value")))) return py::object();
    return member;
}

}  // namespace item_cache
