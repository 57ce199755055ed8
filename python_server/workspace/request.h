// The one frame every request runs in (get_completions, get_hover, get_signature_help,
// get_diagnostics), and the arguments of the requests at a cursor.
#pragma once

#include <functional>
#include <type_traits>

#include "boundary/args.h"
#include "pyobj/names.h"

namespace workspace {

#define WORKSPACE_REQUEST_PARAMS(P)                            \
    P(self, Untyped, required, nullptr)                        \
    P(code, Str, required, nullptr)                            \
    P(line, Int, required, nullptr)                            \
    P(column, Int, required, nullptr)                          \
    P(path, Str, none, "Optional[str]")                        \
    P(modules, Dict, none, "Optional[Dict[str, str]]")         \
    P(dirty_files, Dict, none, "Optional[Dict[str, str]]")
BOUNDARY_ARGS(Request, WORKSPACE_REQUEST_PARAMS);
#undef WORKSPACE_REQUEST_PARAMS

// What the frame made for a request that uses jedi: the path it analyses the code under and the
// jedi.Script. Both null for a request that does not use jedi.
struct Jedi {
    py::object path;
    py::object script;
    // Another jedi.Script of the same code, path and project, for a request whose own extra work
    // met an exception inside jedi: jedi's memo then holds its default for what raised, so the
    // first Script would answer as if that were the answer.
    std::function<py::object()> fresh_script;
};

// What one request adds to the frame: each part is called at its step of serve(); the optional
// ones may stay empty.
struct Steps {
    explicit Steps(pyobj::Name& error_format) : error_format(error_format) {}

    pyobj::Name& error_format;                            // the error line of a failed request
    bool uses_jedi = false;                               // the jedi lock, the sync and a jedi.Script
    std::function<void()> log_request;                    // the request's debug line
    std::function<py::object()> early_answer;             // optional: an answer, or a null object
    std::function<void()> after_sync;                     // optional; only with uses_jedi
    std::function<py::object(const Jedi& jedi)> ask;      // the question
    std::function<py::object(py::object asked)> respond;  // optional: what ask returned, made the answer
    std::function<py::object(py::str error_text)> failure;
};

// The one place that orders a request's steps; a step every request needs goes here.
//  1. log_request()
//  2. the position check, when the arguments have a line and a column: ValueError "line must be
//     a positive integer (1-based)", then "column must be a non-negative integer (0-based)"
//  3. early_answer()
//  4. with uses_jedi, the jedi lock (a request waiting for jedi pauses nothing); then the
//     collector pause (runtime/collector_pause.h)
//  5. with uses_jedi: parso's pickle functions made safe (runtime/parso_pickles.h);
//     self.sync_modules(modules or {}, dirty_files) when either is non-empty;
//     after_sync(); the script's path (the synced file of a module-name path, else the path,
//     else "<editor>")
//  6. the stoppable section: with uses_jedi, jedi.Script(code=..., path=...,
//     project=self._jedi_project); then ask()
//  7. respond(what ask returned), or that answer itself; still under the lock and the pause
// Steps 2 to 7 are one body under the request's time budget (runtime/request_budget.h), the wait
// for the lock included: an Exception there, or the stop, is answered by one error line
// (error_format with the error text; the class name for an empty text, so a failure never looks
// like success) and failure(error_text). A stop can strike only in step 6: never in the sync,
// after_sync() or respond(), so a request's own bookkeeping there is never cut short. A request
// never arms the stop itself.
template <class Args>
py::object serve(const Args& a, const Steps& steps);

// script.<name>(line=line, column=column): a question at the request's position, by keyword.
py::object call_at_position(py::handle script, pyobj::Name& name, const Request& r);

// {key: content, "error": error}: the answer of a request with one content key.
py::dict answer(pyobj::Name& key, py::handle content, py::handle error);

namespace frame {

// What the frame reads of a request's arguments; what the Args do not have stays null.
struct Inputs {
    py::handle line, column;                           // the position, checked
    py::handle self, code, path, modules, dirty_files;  // what a jedi request needs
};

template <class A, class = void>
constexpr bool kHasPosition = false;
template <class A>
constexpr bool kHasPosition<A, std::void_t<decltype(A::line), decltype(A::column)>> = true;

template <class A, class = void>
constexpr bool kHasJediInputs = false;
template <class A>
constexpr bool kHasJediInputs<A, std::void_t<decltype(A::self), decltype(A::code), decltype(A::path),
                                             decltype(A::modules), decltype(A::dirty_files)>> = true;

py::object serve(const Inputs& in, const Steps& steps);

}  // namespace frame

template <class Args>
py::object serve(const Args& a, const Steps& steps) {
    frame::Inputs in;
    if constexpr (frame::kHasPosition<Args>) in.line = a.line, in.column = a.column;
    if constexpr (frame::kHasJediInputs<Args>) {
        in.self = a.self, in.code = a.code, in.path = a.path, in.modules = a.modules, in.dirty_files = a.dirty_files;
    }
    return frame::serve(in, steps);
}

}  // namespace workspace
