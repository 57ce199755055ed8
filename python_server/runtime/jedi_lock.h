// jedi is not thread-safe, and it talks to one shared helper subprocess over pipes while the
// GIL is released. One process-wide, re-entrant lock serialises every use of it: the warm-up
// thread and every request hold it from building the jedi.Script to the last call on a jedi
// object. Waiting releases the GIL, so a waiting thread blocks nothing else.
#pragma once

namespace runtime {

// process_state.cpp: made at the module's start, never destroyed (a daemon thread may hold it
// while the process exits); a child made by fork() gets a fresh, unlocked one, since the thread
// that held it is not in the child.
void make_jedi_lock();
void fresh_jedi_lock_in_child() noexcept;

class JediLock {
public:
    JediLock();
    ~JediLock();
    JediLock(const JediLock&) = delete;
    JediLock& operator=(const JediLock&) = delete;
};

}  // namespace runtime
