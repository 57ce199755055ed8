// What the module keeps for the life of the process, and what becomes of it after fork() and at
// the interpreter's exit: the one place that decides both. install() runs once, from the module's
// start; everything below is then made, and never freed (a daemon thread may still use it while
// the process exits).
//
// The process-wide state: runtime's
//   the jedi lock's mutex (jedi_lock.cpp), the watchdog's registry of requests, its one task and
//   its thread (stop_watchdog.cpp), the stop's exception class (stop_watchdog.cpp), the collector
//   pause's depth and saved thresholds (collector_pause.cpp), and the method calls running now
//   (boundary/binder.cpp).
// and the item cache's (item_cache/: made at its first use, used under the jedi lock):
//   the kept records and member lists with the request counter and the search generation they
//   were filled under (kept_units.cpp), what the process learnt of files - unsaved paths, each
//   file's imports, folder listings, texts found current (file_view.cpp) - the values of jedi's
//   and parso's dicts that passed the as-shipped check (jedi_as_shipped.cpp), the first look at the
//   code a served list skips (member_lists.cpp), the store folders found to be the process's own
//   (store.cpp), and this build's identity (key.cpp).
//
// A child made by fork() has only the forking thread. It gets:
//   - the count of method calls running that thread's own (the exit waits for that count);
//   - a fresh, unlocked jedi lock (a warm-up or request thread that held it is not there);
//   - a fresh watchdog registry, with no thread: the child's first request or pause starts its own;
//   - the collector pause at the forking thread's own depth, and a pause no thread there is left
//     to end is ended (os.register_at_fork, so it runs as Python in the child).
//   - the item cache's state as it was: all of it holds only what was true of files and jedi's
//     code when it was read, and every entry is checked against the files again before it is
//     served; the child's own request counter continues the parent's, and what it stores is
//     written atomically beside what the parent stores.
//
// At the interpreter's exit (an atexit function: non-daemon threads are joined by then, daemon
// threads still run, and nothing is finalized yet; it runs before weakref.finalize's, which kills
// jedi's helper process and removes the sync folders):
//   1. every request running on any thread, budget or not, and the warm-up are stopped (the stop
//      of the request budget: at a safe place, undoing what it interrupted), and a request that
//      starts from now on answers its error result at once, without touching jedi;
//   2. the exit waits, with the GIL released, until no method of the module runs on any thread,
//      for up to kExitWait;
//   3. from then on a method called on another thread raises RuntimeError before its body runs:
//      the finalizer ends such threads when they next ask for the GIL, and unwinding our frames
//      there would release Python objects without it;
//   4. a parso cache file that parso's own save is still writing is removed (a thread past the
//      wait may be ended before the file is whole), and once more after the interpreter is
//      finalized; the module's own save (parso_pickles.h) writes under a temporary name, which a
//      later process removes;
//   5. the watchdog's thread ends, while the interpreter can still give it the GIL.
// A thread still inside a method after the wait keeps running until the finalizer ends it; where
// it takes the GIL back in our own code, it parks instead of unwinding (pyobj/gil.h).
#pragma once

namespace runtime {
namespace process {

// With the GIL held, at the module's start; runs once per process. A hook that cannot be
// registered is reported (sys.unraisablehook) and the module works on without it.
void install();

}  // namespace process
}  // namespace runtime
