// The units the item cache keeps across requests: the items of one module and the member list of
// one library value, each under a resolution context and with what it was read from; in memory
// (bounded: the least recently used go first) and in the disk store (store.h), from which a unit
// the memory lacks is loaded by the first request that needs it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "item_cache/deps.h"

namespace item_cache {

// What a record and a member list share: where they are kept, and what they were read from.
struct KeptUnit {
    std::string context;
    py::object id;  // str: what is kept under the context (a module's file, a member list's id)
    Deps deps;
    uint64_t last_used = 0;
    uint64_t checked_by = 0;  // the request that last found its dependencies unchanged
};

// The items of one defining module (id: its own file).
struct Record : KeptUnit {
    py::dict entries;    // key -> (type, detail or None, documentation or None)
    bool dirty = false;  // gained entries the disk store lacks
    void forget();
};

// The member list of one library value (id: key::member_list_id; member_lists.h).
struct MemberList : KeptUnit {
    py::object entries;  // list of (filter string, label, import name, type, detail, documentation); null: none yet
    void forget();
};

namespace kept {

// A new request's number. Memory is given back first when update_sys_paths or set_workspace ran
// since the units were filled (they stay exact without it: each is tied to its search path).
uint64_t new_request();

// The unit kept under `id` for `context`, for request `request`: its dependencies are checked
// once per request by `holds`, and a unit whose world changed is dropped; the memory lacking it,
// it is loaded from the disk store. Without entries when none may be served.
std::shared_ptr<Record> record(const std::string& context, const std::string& id, uint64_t request,
                               const std::function<bool(const Deps&)>& holds);
std::shared_ptr<MemberList> list(const std::string& context, const std::string& id, uint64_t request,
                                 const std::function<bool(const Deps&)>& holds);

// Writes a unit that gained entries to the disk store (when it is on), then keeps the memory
// within its bounds.
void save(const Record& record);
void save(const MemberList& list);
void trim();

}  // namespace kept

}  // namespace item_cache
