// One row of a method table: everything the boundary needs to bind a call and to show the
// method's attributes. Rows are static data; the method objects are built from them.
#pragma once

#include "pyobj/errors.h"

namespace boundary {

constexpr int kMaxParams = 8;  // self included

enum class Kind { Untyped, Int, Str, Dict, List };

struct Param {
    const char* name;
    Kind kind;
    bool defaults_to_none;
    const char* annotation;  // the annotation text; nullptr means the kind's own type name
};

// The body gets the bound arguments (self first, then the parameters, defaults filled in, int
// parameters converted) and returns the result or throws.
using Body = py::object (*)(PyObject* const* args);

struct MethodSpec {
    const char* name;
    const char* qualname;
    const Param* params;  // self included, when the method has one
    int nparams;
    const char* return_annotation;  // nullptr: no annotation
    bool check_str_return;
    const char* doc;  // the docstring after its signature line; nullptr: no docstring (None)
    Body body;
    const char* refusal_name = nullptr;  // name in refusal messages, when it differs from `name`
    const char* call_name() const { return refusal_name ? refusal_name : name; }
};

}  // namespace boundary
