// The completion items as the item cache makes them: completion_item.h's functions behind the
// cache's ItemMaker.
#pragma once

#include "item_cache/cache.h"

namespace completion {

const item_cache::ItemMaker& item_maker();

}  // namespace completion
