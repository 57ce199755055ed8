// The jedi requests (get_completions, get_hover, get_signature_help): their arguments and the
// one frame that runs the steps they share around what each asks jedi.
#pragma once

#include <functional>

#include "boundary/args.h"
#include "pyobj/names.h"
#include "runtime/collector_pause.h"
#include "runtime/jedi_lock.h"

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

// What a jedi request holds while it uses jedi: the jedi lock, then the collector pause. A
// request still waiting for the lock keeps nothing paused; the pause ends before the lock is
// released. The lock also keeps a running warm-up from reading a file half synced.
struct RequestLock {
    runtime::JediLock jedi;
    runtime::CollectorPause pause;
};

// What one jedi request adds to the frame: each part is called at its step of
// run_jedi_request; the optional ones may stay empty.
struct JediRequest {
    explicit JediRequest(pyobj::Name& error_format) : error_format(error_format) {}

    pyobj::Name& error_format;                        // the error line of a failed request
    std::function<void()> log_request;                // the request's debug line
    std::function<py::object()> answer_without_jedi;  // optional: an answer, or a null object
    std::function<void()> after_sync;                 // optional
    std::function<py::object(py::handle path, py::handle script)> ask;
    std::function<py::object(py::object asked)> respond;  // optional: what ask returned, made the answer
    std::function<py::object(py::str error_text)> failure;
};

// The one place that orders a jedi request's steps; a step every jedi request needs goes here.
//  1. log_request()
//  2. the position check: ValueError "line must be a positive integer (1-based)", then
//     "column must be a non-negative integer (0-based)"
//  3. answer_without_jedi()
//  4. under the RequestLock: self.sync_modules(modules or {}, dirty_files) when either is
//     non-empty; after_sync(); the script's path (the synced file of a module-name path, else
//     the path, else "<editor>"); jedi.Script(code=..., path=..., project=self._jedi_project);
//     ask(path, script)
//  5. respond(what ask returned), or that answer itself
// Steps 2 to 5 are one body: an Exception there is answered by one error line (error_format)
// and failure(error_text), as workspace/answer.h describes. The request's time budget covers
// all of it, the wait for the lock included. A stop may interrupt only the making of the script
// and what ask() runs in `stoppable` sections (request_budget.h: its jedi work), never the sync
// or after_sync().
py::object run_jedi_request(const Request& r, const JediRequest& request);

// script.<name>(line=line, column=column): a question at the request's position, by keyword.
py::object call_at_position(py::handle script, pyobj::Name& name, const Request& r);

}  // namespace workspace
