// parso's pickles (the parser cache files jedi asks parso to keep in jedi's cache directory) made
// safe for processes that die at any moment and for processes that share the folder. parso
// writes a pickle straight into its final name and raises on one that does not load, so a process
// killed mid-write leaves a truncated file, newer than its source, that every later process loads
// and fails on; and a reader in another process can meet a file still being written.
//
// While parso.cache._save_to_file_system and _load_from_file_system are parso's own functions,
// they are replaced by this module's:
//   - a save writes the whole pickle under a temporary name in the same folder
//     (<final name>.<pid>.<n>.tmp) and renames it into place: a reader sees the old file or the
//     new one, never part of one; a killed writer leaves only the temporary file;
//   - a load that cannot use the file (it does not unpickle, or holds no tree) is a miss: parso
//     parses the source again and saves the pickle anew, and the bad file is removed meanwhile so
//     no later process meets it;
//   - the first load or save of a process in a folder removes the temporary files of writers that
//     are gone (their process no longer runs, or the file is older than any write takes).
// Everything else is parso's: the cache's folder, names, format and freshness rule, its
// in-memory cache and log line, and a host's own replacement of either function, which is kept.
#pragma once

#include "pyobj/errors.h"

namespace runtime {
namespace parso_pickles {

// With the GIL held, before jedi runs (every jedi request and the warm-up): replaces each of the
// two functions that is parso's own (its code object as parso.cache first defined it) by this
// module's. Once they are replaced, a sys.modules look-up and two dict look-ups.
void guard();

}  // namespace parso_pickles
}  // namespace runtime
