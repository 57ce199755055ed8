// One row of a method table: everything the boundary needs to bind a call and to show the
// method's attributes. Rows are static data; the method objects are built from them.
#pragma once

#include "pyobj/errors.h"

namespace boundary {

constexpr int kMaxParams = 8;  // self included

constexpr bool same_text(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

enum class Kind { Untyped, Int, Str, Dict, List };

// What each kind is at the boundary, in Kind's order: the exact type the binder checks (none
// for Untyped; an Int is converted, not checked) and the type name that the signature line and
// the default annotation show.
struct KindRow {
    Kind kind;
    PyTypeObject* type;
    const char* name;
};
inline constexpr KindRow kKinds[] = {
    {Kind::Untyped, nullptr, nullptr},
    {Kind::Int, &PyLong_Type, "int"},
    {Kind::Str, &PyUnicode_Type, "str"},
    {Kind::Dict, &PyDict_Type, "dict"},
    {Kind::List, &PyList_Type, "list"},
};
constexpr const KindRow& kind_row(Kind kind) { return kKinds[static_cast<int>(kind)]; }
constexpr bool kinds_in_order() {
    for (int i = 0; i < static_cast<int>(sizeof(kKinds) / sizeof(kKinds[0])); ++i) {
        if (static_cast<int>(kKinds[i].kind) != i) return false;
    }
    return true;
}
static_assert(kinds_in_order(), "one row per Kind, in Kind's order");

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
    bool check_str_return;          // the return annotation is `str`
    const char* doc;  // the docstring after its signature line; nullptr: no docstring (None)
    Body body;
    const char* refusal_name;  // name in refusal messages, when it differs from `name`
    const char* call_name() const { return refusal_name ? refusal_name : name; }
};

// What a row says of its method besides the body, each option by name; one not given is absent:
//     Row("get_hover").qualname("LSPBridge.get_hover").returns("Dict[str, Any]").doc(text)
class Row {
public:
    constexpr explicit Row(const char* name) : name_(name), qualname_(name) {}

    // The __qualname__; the name when not given.
    constexpr Row qualname(const char* text) const { return with(&Row::qualname_, text); }
    // The return annotation's text. A method annotated `str` has its result checked to be one.
    constexpr Row returns(const char* annotation) const { return with(&Row::returns_, annotation); }
    // The docstring after its signature line, which is made from the row; none: __doc__ is None.
    constexpr Row doc(const char* text) const { return with(&Row::doc_, text); }
    // The name refusal messages give the method, when it is not the name.
    constexpr Row refusal_name(const char* text) const { return with(&Row::refusal_name_, text); }

    // The row's spec, given its parameters and its body.
    constexpr MethodSpec spec(const Param* params, int nparams, Body body) const {
        return MethodSpec{name_, qualname_, params, nparams, returns_, returns_str(), doc_, body, refusal_name_};
    }
    constexpr const char* doc_text() const { return doc_; }

private:
    constexpr Row with(const char* Row::*option, const char* text) const {
        Row row = *this;
        row.*option = text;
        return row;
    }
    constexpr bool returns_str() const { return returns_ && same_text(returns_, "str"); }

    const char* name_;
    const char* qualname_;
    const char* returns_ = nullptr;
    const char* doc_ = nullptr;
    const char* refusal_name_ = nullptr;
};

}  // namespace boundary
