#include "workspace/search_generation.h"

namespace workspace {

namespace {
uint64_t g_generation = 0;  // changed only under the GIL
}  // namespace

uint64_t search_generation() { return g_generation; }
void new_search_generation() { ++g_generation; }

}  // namespace workspace
