// A method's parameters written once: one list gives both the rows the binder reads and the
// struct a body reads its arguments from, field for field. An impossible row fails to compile.
//
//     #define HOVER_MODE_PARAMS(P) P(self, Untyped, required, nullptr) P(mode, Str, required, nullptr)
//     BOUNDARY_ARGS(ModeArgs, HOVER_MODE_PARAMS);
//     #undef HOVER_MODE_PARAMS
//
// makes `struct ModeArgs { py::handle self; py::str mode; static constexpr Param params[] = ...; }`.
// Each entry is P(name, kind, default, annotation): kind one of Kind's names; default `required`
// or `none` (defaults to None); annotation the annotation text, or nullptr for the kind's own
// type name. A field's type is what the binder guarantees of it (see Field).
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>

#include "boundary/method_row.h"

namespace boundary {

// A parameter that defaults to None: None, or the T the binder checked (a str, dict or list; a
// subclass where the build admits them). It is the handle it holds, so it passes on as one.
template <class T>
class Optional : public py::object {
public:
    using py::object::object;
    bool has_value() const { return !is_none(); }
    T value() const { return py::reinterpret_borrow<T>(*this); }  // only when has_value()
    explicit operator bool() const = delete;                       // true for None too: use has_value()
};

template <Kind kind>
struct TypeOf {
    using type = py::handle;  // Untyped: whatever the caller passed
};
template <> struct TypeOf<Kind::Int> { using type = py::int_; };  // int() of any number
template <> struct TypeOf<Kind::Str> { using type = py::str; };
template <> struct TypeOf<Kind::Dict> { using type = py::dict; };
template <> struct TypeOf<Kind::List> { using type = py::list; };

// The type of a parameter's field: what the binder guarantees when the body runs.
template <Kind kind, bool defaults_to_none>
using Field = std::conditional_t<defaults_to_none, Optional<typename TypeOf<kind>::type>, typename TypeOf<kind>::type>;

namespace check {

// The binder counts the leading required parameters, so no required one may follow a default.
constexpr bool defaults_last(const Param* params, size_t n) {
    for (size_t i = 1; i < n; ++i) {
        if (params[i - 1].defaults_to_none && !params[i].defaults_to_none) return false;
    }
    return true;
}

// None is no int: an int parameter defaulting to None would refuse its own default.
// An untyped parameter has no annotation to show.
constexpr bool kinds_fit(const Param* params, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (params[i].kind == Kind::Int && params[i].defaults_to_none) return false;
        if (params[i].kind == Kind::Untyped && (params[i].defaults_to_none || params[i].annotation)) return false;
    }
    return true;
}

constexpr bool names_unique(const Param* params, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (same_text(params[i].name, params[j].name)) return false;
        }
    }
    return true;
}

constexpr bool starts_with(const char* text, const char* prefix) {
    while (*prefix && *text == *prefix) ++text, ++prefix;
    return *prefix == '\0';
}

constexpr const char* next_line(const char* line) {
    while (*line && *line != '\n') ++line;
    return *line ? line + 1 : line;
}

// A docstring's "Args:" section names the parameters after self, in order: one "    name: ..."
// line each, deeper lines going on with the one before. Without the section, there are none.
constexpr bool args_documented(const char* doc, const Param* params, size_t n) {
    if (!doc) return true;
    size_t i = n > 0 && same_text(params[0].name, "self") ? 1 : 0;
    const char* line = doc;
    while (*line && !starts_with(line, "Args:\n")) line = next_line(line);
    if (!*line) return i == n;
    for (line = next_line(line); starts_with(line, "    "); line = next_line(line)) {
        const char* entry = line + 4;
        if (*entry == '\n' || *entry == '\0') break;  // the blank line before Returns
        if (*entry == ' ') continue;
        if (i == n || !starts_with(entry, params[i].name)) return false;
        if (entry[std::char_traits<char>::length(params[i].name)] != ':') return false;
        ++i;
    }
    return i == n;
}

}  // namespace check

template <class Body>
struct BodyOf;
template <class A>
struct BodyOf<py::object (*)(const A&)> {
    using Args = A;
};

// A bound argument (borrowed: the call holds it) as the field it initialises.
struct Bound {
    PyObject* obj;
    operator py::handle() const { return obj; }
    template <class T, std::enable_if_t<std::is_base_of<py::object, T>::value, int> = 0>
    operator T() const {
        return py::reinterpret_borrow<T>(obj);
    }
};

template <class Args, size_t... I>
Args view(PyObject* const* bound, std::index_sequence<I...>) {
    return Args{Bound{bound[I]}...};
}

// The Body of a row: the bound arguments as the body's own struct.
template <auto body>
py::object call_with_view(PyObject* const* bound) {
    using Args = typename BodyOf<decltype(body)>::Args;
    return body(view<Args>(bound, std::make_index_sequence<std::size(Args::params)>()));
}

// The row of a method whose body is `body`; its parameters are those of the body's Args.
// Evaluated as a constant (a table's rows are), a docstring whose Args section does not name
// the parameters fails to compile.
template <auto body>
constexpr MethodSpec method(const Row& row) {
    using Args = typename BodyOf<decltype(body)>::Args;
    constexpr const Param* params = Args::params;
    constexpr size_t n = std::size(Args::params);
    static_assert(n <= kMaxParams, "more parameters than the binder holds");
    static_assert(sizeof(Args) == n * sizeof(py::handle), "one field per parameter row");
    static_assert(check::defaults_last(params, n), "a required parameter after one with a default");
    static_assert(check::kinds_fit(params, n), "an int defaulting to None, or an untyped parameter with an annotation "
                                               "or a default");
    static_assert(check::names_unique(params, n), "two parameters with one name");
    if (!check::args_documented(row.doc_text(), params, n)) {
        throw "the docstring's Args section does not name the parameters";  // a compile error in a constant
    }
    return row.spec(params, static_cast<int>(n), &call_with_view<body>);
}

}  // namespace boundary

#define BOUNDARY_DEFAULT_required false
#define BOUNDARY_DEFAULT_none true
#define BOUNDARY_FIELD(name, kind, default_, annotation) \
    ::boundary::Field<::boundary::Kind::kind, BOUNDARY_DEFAULT_##default_> name;
#define BOUNDARY_ROW(name, kind, default_, annotation) \
    ::boundary::Param{#name, ::boundary::Kind::kind, BOUNDARY_DEFAULT_##default_, annotation},
#define BOUNDARY_ARGS(Type, PARAMS)                                           \
    struct Type {                                                             \
        PARAMS(BOUNDARY_FIELD)                                                \
        static constexpr ::boundary::Param params[] = {PARAMS(BOUNDARY_ROW)}; \
    }
