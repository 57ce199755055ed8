// The answer of a request that failed: one error line, then the request's failure result.
#pragma once

#include "pyobj/log.h"
#include "runtime/request_budget.h"

namespace workspace {

// Runs a request body; any Exception becomes one error line (`error_format` with the error
// text) and the answer `failure(error_text)`. An empty exception text is replaced by the class
// name, so a failure never looks like success to a caller testing `error` for truth. The
// request's time budget starts here; a request that ran out of it answers the same way
// (request_budget.h).
template <class Body, class Failure>
py::object answer(pyobj::Name& error_format, Body&& body, Failure&& failure) {
    runtime::RequestBudget budget;
    return pyobj::except(budget.caught(), std::forward<Body>(body), [&](py::error_already_set& e) -> py::object {
        py::str text = budget.error_text(e);
        pyobj::error(error_format, text);
        return failure(text);
    });
}

}  // namespace workspace
