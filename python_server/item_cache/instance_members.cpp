// Which members of a library class reached through an instance may be kept.
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
    static pyobj::Name* const plain[] = {&PYOBJ_NAME("overload"),     &PYOBJ_NAME("typing.overload"),
                                         &PYOBJ_NAME("abstractmethod"), &PYOBJ_NAME("abc.abstractmethod"),
                                         &PYOBJ_NAME("staticmethod"), &PYOBJ_NAME("classmethod")};
    for (pyobj::Name* name : plain) {
        if (pyobj::equals(text, *name)) return true;
    }
    return false;
}

// The names of the class's functions with a definition that takes a star parameter or carries
// another decorator.
py::object bound_names(py::handle classdef) {
    py::object names = pyobj::steal(PySet_New(nullptr));
    for (py::handle funcdef : pyobj::call_method(classdef, PYOBJ_NAME("iter_funcdefs"))) {
        bool plain = true;
        for (py::handle param : pyobj::call_method(funcdef, PYOBJ_NAME("get_params"))) {
            plain = plain && !pyobj::truthy(attr(param, PYOBJ_NAME("star_count")));
        }
        for (py::handle decorator : pyobj::call_method(funcdef, PYOBJ_NAME("get_decorators"))) {
            plain = plain && binds_nothing_of_its_own(decorator);
        }
        if (!plain) pyobj::check(PySet_Add(names.ptr(), attr(attr(funcdef, PYOBJ_NAME("name")), PYOBJ_NAME("value")).ptr()));
    }
    return names;
}

}  // namespace

InstanceMembers::InstanceMembers()
    : instance_name_type_(
          attr(pyobj::import(PYOBJ_NAME("jedi.inference.value.instance")), PYOBJ_NAME("LazyInstanceClassName"))),
      class_name_type_(attr(pyobj::import(PYOBJ_NAME("jedi.inference.value.klass")), PYOBJ_NAME("ClassName"))),
      class_value_type_(attr(pyobj::import(PYOBJ_NAME("jedi.inference.value.klass")), PYOBJ_NAME("ClassValue"))) {}

py::object InstanceMembers::plain_member(py::handle name) {
    if (reinterpret_cast<PyObject*>(Py_TYPE(name.ptr())) != instance_name_type_.ptr()) return py::object();
    py::object member = attr(name, PYOBJ_NAME("_wrapped_name"));
    if (reinterpret_cast<PyObject*>(Py_TYPE(member.ptr())) != class_name_type_.ptr()) return py::object();
    py::object api_type = attr(member, PYOBJ_NAME("api_type"));
    // A property's item infers nothing: no signature, and the docstring of its definitions.
    if (pyobj::equals(api_type, PYOBJ_NAME("property"))) return member;
    // A statement's values come from its class's text alone when the class is the library's own
    // class, not one whose type arguments the user's bases give; binding is checked when stored.
    if (pyobj::equals(api_type, PYOBJ_NAME("statement"))) {
        PyObject* owner = reinterpret_cast<PyObject*>(Py_TYPE(attr(member, PYOBJ_NAME("_class_value")).ptr()));
        return owner == class_value_type_.ptr() ? member : py::object();
    }
    if (!pyobj::equals(api_type, PYOBJ_NAME("function"))) return py::object();
    py::object tree_name = attr(member, PYOBJ_NAME("tree_name"));
    py::object definition = pyobj::call_method(tree_name, PYOBJ_NAME("get_definition"));
    if (definition.is_none()) return py::object();
    py::object scope = pyobj::call_method(definition, PYOBJ_NAME("search_ancestor"), py::handle(PYOBJ_NAME("classdef")),
                                          py::handle(PYOBJ_NAME("funcdef")), py::handle(PYOBJ_NAME("lambdef")));
    if (scope.is_none() || !pyobj::equals(attr(scope, PYOBJ_NAME("type")), PYOBJ_NAME("classdef"))) return py::object();
    // A class's functions are looked at once per request: a str instance lists about 50 of them.
    std::pair<py::object, py::object>& bound = bound_names_[scope.ptr()];
    if (!bound.first) bound = {scope, bound_names(scope)};
    int found = PySet_Contains(bound.second.ptr(), attr(tree_name, PYOBJ_NAME("value")).ptr());
    pyobj::check(found);
    return found ? py::object() : member;
}

bool InstanceMembers::unbound(py::handle name) const {
    if (reinterpret_cast<PyObject*>(Py_TYPE(name.ptr())) != instance_name_type_.ptr()) return true;
    py::object member = attr(name, PYOBJ_NAME("_wrapped_name"));
    if (!pyobj::equals(attr(member, PYOBJ_NAME("api_type")), PYOBJ_NAME("statement"))) return true;
    // jedi infers nothing for a statement outside a stub: its item is the type and the comment.
    py::object root = pyobj::call_method(member, PYOBJ_NAME("get_root_context"));
    if (!pyobj::truthy(pyobj::call_method(root, PYOBJ_NAME("is_stub")))) return true;
    py::object instance = attr(name, PYOBJ_NAME("_instance"));
    py::object owner = pyobj::call_method(instance, PYOBJ_NAME("py__class__"));
    for (py::handle value : pyobj::call_method(member, PYOBJ_NAME("infer"))) {
        py::object bound = pyobj::call_method(value, PYOBJ_NAME("py__get__"), instance, owner);
        size_t count = 0;
        for (py::handle got : bound) {
            if (++count > 1 || got.ptr() != value.ptr()) return false;
        }
        if (count != 1) return false;
    }
    return true;
}

}  // namespace item_cache
