// Interned strs made once per process: names of attributes, globals and keys, fixed texts
// such as log format strings, and tuples of keyword names.
#pragma once

#include <initializer_list>
#include <vector>

#include "pyobj/errors.h"

namespace pyobj {

// An interned str made on first use and never released: safe to keep in a static, unlike a
// py::object, whose destructor would run after the interpreter is gone.
class Name {
public:
    explicit Name(const char* text) : text_(text) {}
    PyObject* get();  // borrowed
    operator py::handle() { return get(); }

private:
    const char* text_;  // a string literal: it outlives the Name
    PyObject* obj_ = nullptr;
};

// A tuple of interned keyword names, made on first use and kept, like Name.
class KeywordNames {
public:
    KeywordNames(std::initializer_list<const char*> names) : names_(names) {}
    PyObject* get();
    Py_ssize_t size() const { return static_cast<Py_ssize_t>(names_.size()); }

private:
    std::vector<const char*> names_;  // string literals
    PyObject* obj_ = nullptr;
};

}  // namespace pyobj

// The Name of a string literal, one per place in the code, made the first time that place runs.
// `"" text` admits only a literal, so the text can never change under the kept str.
#define PYOBJ_NAME(text)                          \
    ([]() -> ::pyobj::Name& {                     \
        static ::pyobj::Name pyobj_name_("" text); \
        return pyobj_name_;                       \
    }())
