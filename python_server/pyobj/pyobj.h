// Object handling shared by every method body: owned references (pybind11's py::object),
// module-global look-up at call time, Python-style exception handlers and the logger calls.
//
// A Python failure inside C++ is a thrown py::error_already_set. The boundary turns it back into
// a raised exception; nothing else in the module catches C++ exceptions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pybind11/pybind11.h>

#include <initializer_list>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace pyobj {

// An interned str made once per process and never released: safe to keep in a function-local
// static, unlike a py::object, whose destructor would run after the interpreter is gone.
class Name {
public:
    explicit Name(const char* text) : text_(text) {}
    PyObject* get();
    operator py::handle() { return get(); }
    const char* text() const { return text_; }

private:
    const char* text_;
    PyObject* obj_ = nullptr;
};

[[noreturn]] void throw_error();  // the Python error indicator is set: throw it as C++
// Inside a catch block: makes the active C++ exception the raised Python exception, so that no
// C++ exception crosses into the interpreter.
void set_error_from_current_exception() noexcept;

// raise type(message)
[[noreturn]] void raise(PyObject* type, const char* message);

// The str result check of the methods declared to return str: a str (or None) passes, anything
// else is TypeError "Expected str, got <type>".
void require_str_result(py::handle result, bool accept_subclasses = false);

inline PyObject* check(PyObject* o) {
    if (!o) throw_error();
    return o;
}
inline py::object steal(PyObject* o) { return py::reinterpret_steal<py::object>(check(o)); }

// The globals of the method running on this thread: set by the boundary for each call, so a
// body reads its module's names as a Python function reads its __globals__.
class GlobalsScope {
public:
    explicit GlobalsScope(PyObject* globals);
    ~GlobalsScope();
    GlobalsScope(const GlobalsScope&) = delete;
    GlobalsScope& operator=(const GlobalsScope&) = delete;

private:
    PyObject* previous_;
};
PyObject* current_globals();  // borrowed

// Module global, else builtin, else NameError "name 'x' is not defined" - as LOAD_GLOBAL does.
py::object global(Name& name);
py::object global(const char* name);

// getattr(obj, name); for a plain module object straight from its dict (what module getattr
// finds first anyway), which keeps hot look-ups such as os.path.sep cheap.
py::object attr(py::handle obj, Name& name);

// Python 3 hasattr(): only AttributeError means absent; every other failure propagates.
// On success `value` holds the attribute.
bool get_attr_if_present(py::handle obj, Name& name, py::object& value);

// format(value, ""): str as is, anything else by its own __format__.
py::str format_value(py::handle value);

// str(e) of a caught exception, or its class name when that text is empty, so that a failure
// is never reported as an empty (falsy) error message.
py::str error_text(const py::error_already_set& e);

bool truthy(py::handle obj);  // PyObject_IsTrue, checked

// `item in container`, checked; an exact str looked for in a str without the generic protocol.
bool contains(py::handle container, py::handle item);

// While a handler runs, the caught exception is the one being handled (sys.exc_info()), as in
// an except block, so that logging with exc_info=True finds its traceback.
class Handling {
public:
    explicit Handling(const py::error_already_set& e);
    ~Handling();
    Handling(const Handling&) = delete;
    Handling& operator=(const Handling&) = delete;

private:
    PyObject* saved_[3];
};

// try { body } except <types>: handler(e). Anything else propagates unchanged. A C++ allocation
// failure counts as MemoryError, as it would in Python.
template <class Body, class Handler>
auto except(PyObject* types, Body&& body, Handler&& handler) -> decltype(body()) {
    try {
        try {
            return body();
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            throw_error();
        }
    } catch (py::error_already_set& e) {
        if (!e.matches(types)) throw;
        Handling handling(e);
        return handler(e);
    }
}

// except Exception - the handler of every request, helper and maintenance method.
template <class Body, class Handler>
auto except_exception(Body&& body, Handler&& handler) -> decltype(body()) {
    return except(PyExc_Exception, std::forward<Body>(body), std::forward<Handler>(handler));
}

// Concatenation of str parts, as "a" + b + "c" would build it.
template <class... Parts>
py::str concat(const Parts&... parts) {
    py::list items;
    (items.append(parts), ...);
    return py::reinterpret_steal<py::str>(check(PyUnicode_Join(py::str("").ptr(), items.ptr())));
}

// Calls made as the interpreter makes them (a vectorcall over the arguments in place): no bound
// method, argument tuple or keyword dict is built, which counts on every request and file.

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

// callable(args...), the last `keywords.size()` of them passed by those names.
template <class... Args>
py::object call_kw(py::handle callable, KeywordNames& keywords, const Args&... args) {
    PyObject* stack[] = {nullptr, py::handle(args).ptr()...};  // slot 0 is the callee's to use
    size_t positional = sizeof...(Args) - static_cast<size_t>(keywords.size());
    return steal(PyObject_Vectorcall(callable.ptr(), stack + 1, positional | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                     keywords.get()));
}

// callable(args...)
template <class... Args>
py::object call(py::handle callable, const Args&... args) {
    PyObject* stack[] = {nullptr, py::handle(args).ptr()...};
    return steal(PyObject_Vectorcall(callable.ptr(), stack + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                     nullptr));
}

// obj.<name>(args...), the last `keywords.size()` of them by keyword (no keywords: nullptr).
template <class... Args>
py::object call_method_kw(py::handle obj, Name& name, KeywordNames* keywords, const Args&... args) {
    PyObject* stack[] = {obj.ptr(), py::handle(args).ptr()...};
    size_t positional = 1 + sizeof...(Args) - static_cast<size_t>(keywords ? keywords->size() : 0);
    return steal(PyObject_VectorcallMethod(name.get(), stack, positional | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                           keywords ? keywords->get() : nullptr));
}

// obj.<name>(args...)
template <class... Args>
py::object call_method(py::handle obj, Name& name, const Args&... args) {
    return call_method_kw(obj, name, nullptr, args...);
}

// The str of a fixed C text (a string literal: its address names it for the life of the
// module), made on first use and kept, so hot paths do not build the same str on every call.
PyObject* literal(const char* text);  // borrowed

// The module logger, looked up at each call: logger.<level>(fmt, *args).
py::object logger();
inline py::object message(const char* text) { return py::reinterpret_borrow<py::object>(literal(text)); }
inline py::object message(py::handle text) { return py::reinterpret_borrow<py::object>(text); }
template <class Msg, class... Args>
void log(const char* level, const Msg& msg, Args&&... args) {
    py::object method = steal(PyObject_GetAttr(logger().ptr(), literal(level)));
    static_cast<void>(method(message(msg), std::forward<Args>(args)...));
}

template <class Msg, class... Args> void debug(const Msg& m, Args&&... a) { log("debug", m, std::forward<Args>(a)...); }
template <class Msg, class... Args> void info(const Msg& m, Args&&... a) { log("info", m, std::forward<Args>(a)...); }
template <class Msg, class... Args> void warning(const Msg& m, Args&&... a) { log("warning", m, std::forward<Args>(a)...); }
template <class Msg, class... Args> void error(const Msg& m, Args&&... a) { log("error", m, std::forward<Args>(a)...); }

}  // namespace pyobj
