// jedi is not thread-safe, and it talks to one shared helper subprocess over pipes while the
// GIL is released. One process-wide, re-entrant lock serialises every use of it: the warm-up
// thread and every request hold it from building the jedi.Script to the last call on a jedi
// object. Waiting releases the GIL, so a waiting thread blocks nothing else.
#pragma once

namespace runtime {

class JediLock {
public:
    JediLock();
    ~JediLock();
    JediLock(const JediLock&) = delete;
    JediLock& operator=(const JediLock&) = delete;
};

}  // namespace runtime
