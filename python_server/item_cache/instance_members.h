// Members of library classes reached through an instance: `self.` in a class of the user's that
// derives from a library class, or a library instance such as `"".` or a Match. jedi binds each
// member to the instance, so its item could depend on the instance and its class, which live in
// the user's file. It does not for a name jedi types "property" (no signature, and the docstring
// of its definitions), nor for a function whose every definition in its class takes neither
// *args nor **kwargs (jedi fills those in from the calls the body makes, super() and the
// instance's own methods included) and carries only decorators that bind nothing of their own
// (overload, abstractmethod, staticmethod, classmethod): then jedi's type, signature texts and
// docstring come from the library's text alone. A property whose last definition is its setter
// is typed "function" and is neither: its value runs the getter with the instance (object's
// __class__ gives the instance's class). A statement of the library's own class (not one whose
// type arguments come from the user's bases) does not either, unless it is a stub's and one of
// its values binds to the instance (a function, a descriptor): jedi reads the signatures of a
// stub statement's values, and of no other statement's.
#pragma once

#include <unordered_map>
#include <utility>

#include "pyobj/errors.h"

namespace item_cache {

class InstanceMembers {
public:
    InstanceMembers();  // finds jedi's name and class types; made per request, as jedi may be
                        // patched and the classes' trees change

    // The class member name that an instance's name wraps, when the member is such a function,
    // property or statement; a null object otherwise.
    py::object plain_member(py::handle name);

    // False for a stub statement of such a member whose values bind to the instance (a
    // descriptor, a function): its signatures would be the instance's. Asked before an item is
    // kept, since it infers the member once more.
    bool unbound(py::handle name) const;

private:
    py::object instance_name_type_, class_name_type_, class_value_type_;
    // classdef -> (the classdef, held so the address stays its own; its functions that bind)
    std::unordered_map<PyObject*, std::pair<py::object, py::object>> bound_names_;
};

}  // namespace item_cache
