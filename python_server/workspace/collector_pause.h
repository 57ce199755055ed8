// Python's cyclic collector is paused while a request runs: each collection walks jedi's and
// pyflakes' long-lived objects, which can cost a third of a large request. The request's own
// cycles are collected by the first collection after it.
#pragma once

#include "boundary/args.h"

namespace workspace {

// Held for the whole of a request. A process-wide depth, changed only under the GIL, makes the
// outermost pause the one that acts: it disables the collector if it was enabled and re-enables
// it when the last overlapping request (any thread, re-entrant calls included) has ended, so no
// request sees it switched back on early. Never raises: if the collector cannot be read or
// switched, the request runs with it as it is.
class CollectorPause {
public:
    CollectorPause();
    ~CollectorPause();
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
};

// A method body run under a CollectorPause: the form the method table takes.
template <auto body>
py::object with_collector_paused(const typename boundary::BodyOf<decltype(body)>::Args& a) {
    CollectorPause pause;
    return body(a);
}

}  // namespace workspace
