// A method's parameters written once: one list gives both the rows the binder reads and the
// struct a body reads its arguments from, field for field. An impossible row fails to compile.
//
//     #define HOVER_MODE_PARAMS(P) P(self, Untyped, required, nullptr) P(mode, Str, required, nullptr)
//     BOUNDARY_ARGS(ModeArgs, HOVER_MODE_PARAMS);
//     #undef HOVER_MODE_PARAMS
//
// makes `struct ModeArgs { py::handle self, mode; static constexpr Param params[] = ...; }`.
// Each entry is P(name, kind, default, annotation): kind one of Kind's names; default `required`
// or `none` (defaults to None); annotation the annotation text, or nullptr for the kind's own
// type name.
#pragma once

#include <cstddef>
#include <iterator>
#include <utility>

#include "boundary/method_row.h"

namespace boundary {

namespace check {

constexpr bool same_text(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

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

}  // namespace check

template <class Body>
struct BodyOf;
template <class A>
struct BodyOf<py::object (*)(const A&)> {
    using Args = A;
};

template <class Args, size_t... I>
Args view(PyObject* const* bound, std::index_sequence<I...>) {
    return Args{py::handle(bound[I])...};
}

// The Body of a row: the bound arguments as the body's own struct.
template <auto body>
py::object call_with_view(PyObject* const* bound) {
    using Args = typename BodyOf<decltype(body)>::Args;
    return body(view<Args>(bound, std::make_index_sequence<std::size(Args::params)>()));
}

// The row of a method whose body is `body`; its parameters are those of the body's Args.
// `doc` is the docstring after its signature line, which is made from the row (nullptr: no
// docstring at all).
template <auto body>
constexpr MethodSpec method(const char* name, const char* qualname, const char* return_annotation,
                            bool check_str_return, const char* doc, const char* refusal_name = nullptr) {
    using Args = typename BodyOf<decltype(body)>::Args;
    constexpr const Param* params = Args::params;
    constexpr size_t n = std::size(Args::params);
    static_assert(n <= kMaxParams, "more parameters than the binder holds");
    static_assert(sizeof(Args) == n * sizeof(py::handle), "one field per parameter row");
    static_assert(check::defaults_last(params, n), "a required parameter after one with a default");
    static_assert(check::kinds_fit(params, n), "an int defaulting to None, or an untyped parameter with an annotation "
                                               "or a default");
    static_assert(check::names_unique(params, n), "two parameters with one name");
    return MethodSpec{name,      qualname, params, static_cast<int>(n), return_annotation, check_str_return,
                      doc,       &call_with_view<body>, refusal_name};
}

}  // namespace boundary

#define BOUNDARY_DEFAULT_required false
#define BOUNDARY_DEFAULT_none true
#define BOUNDARY_FIELD(name, kind, default_, annotation) py::handle name;
#define BOUNDARY_ROW(name, kind, default_, annotation) \
    ::boundary::Param{#name, ::boundary::Kind::kind, BOUNDARY_DEFAULT_##default_, annotation},
#define BOUNDARY_ARGS(Type, PARAMS)                                           \
    struct Type {                                                             \
        PARAMS(BOUNDARY_FIELD)                                                \
        static constexpr ::boundary::Param params[] = {PARAMS(BOUNDARY_ROW)}; \
    }
