// A count of the changes that may change what a name resolves to (update_sys_paths,
// set_workspace). Caches of resolved answers compare it with the count they were filled under
// and drop what they hold when it moved.
#pragma once

#include <cstdint>

namespace workspace {

uint64_t search_generation();  // read under the GIL
void new_search_generation();

}  // namespace workspace
