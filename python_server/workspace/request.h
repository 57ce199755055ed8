// The steps the jedi requests share: position checks, sync, the script path and the
// jedi.Script, and the answer of a failed request.
#pragma once

#include "boundary/args.h"
#include "pyobj/log.h"
#include "workspace/collector_pause.h"
#include "workspace/jedi_lock.h"

namespace workspace {

// The arguments of get_completions, get_hover and get_signature_help.
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
// released.
struct RequestLock {
    JediLock jedi;
    CollectorPause pause;
};

// ValueError "code must be a string" / "line must be a positive integer (1-based)" /
// "column must be a non-negative integer (0-based)", checked in that order.
void validate(const Request& r);

// self.sync_modules(modules or {}, dirty_files) when either is non-empty.
void sync_if_needed(const Request& r);

// The module's synced file for a module-name path, else the path, else "<editor>".
py::object script_path(const Request& r);

// jedi.Script(code=..., path=..., project=self._jedi_project). The caller holds the JediLock.
py::object new_script(const Request& r, py::handle path);

// script.<name>(line=line, column=column): the question of a request at its position, by keyword.
py::object call_at_position(py::handle script, pyobj::Name& name, const Request& r);

// validate, sync, then the script: the preamble of hover and signature help. The caller holds
// the JediLock, which also keeps a running warm-up from reading a file half-written.
py::object prepare_script(const Request& r);

// Runs a request body; any Exception becomes one error line (`error_format` with the error
// text) and the answer `failure(error_text)`. An empty exception text is replaced by the class
// name, so a failure never looks like success to a caller testing `error` for truth.
template <class Body, class Failure>
py::object answer(pyobj::Name& error_format, Body&& body, Failure&& failure) {
    return pyobj::except_exception(std::forward<Body>(body), [&](py::error_already_set& e) -> py::object {
        py::str text = pyobj::error_text(e);
        pyobj::error(error_format, text);
        return failure(text);
    });
}

}  // namespace workspace
