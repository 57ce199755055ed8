// Python's cyclic collector is paused while a request runs: each collection walks jedi's and
// pyflakes' long-lived objects, which can cost half of a large request. The request's own
// cycles are collected by the first collection after it.
#pragma once

namespace runtime {

// Held for the whole of a request (the jedi requests: from the moment they hold the jedi lock).
// The pause is the collector's first threshold at 0 and nothing else: the collector's switch stays
// the host's (and parso's, which switches it on after every cache file it loads). A process-wide
// depth, changed only under the GIL, keeps one pause for overlapping requests (any thread,
// re-entrant calls included). Each start and end of a request is a boundary where the pause is
// brought in line:
// - the first request in lets CPython run whatever collection is due, then pauses, if the host
//   has the collector on and a first threshold that is not 0 (otherwise there is nothing to pause);
// - the last request out gives the host its first threshold back, but only if the thresholds are
//   still the ones the pause set: a gc.set_threshold() the host made meanwhile stays in force, as
//   does a gc.disable();
// - a pause in force for half a second is lifted for a moment and CPython lets collect, by the
//   next boundary or by the watchdog's thread (stop_watchdog.h) if none comes, so neither requests
//   that keep overlapping nor one long request can starve the host's garbage.
// Never raises: if the collector cannot be read or changed, the request runs with it as it is.
class CollectorPause {
public:
    CollectorPause();
    ~CollectorPause();
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
};

// process_state.cpp, in a child made by fork(): the child has only the forking thread, so the
// depth is that thread's own, and a pause no thread there is left to end is ended.
void collector_after_fork_in_child() noexcept;

}  // namespace runtime
