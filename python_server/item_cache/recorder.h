// What one request makes that may be kept, and the keeping of it once the answer is whole: the
// items it computed, each with its record and entry key, and, after the dot just typed, the
// member list of the value with every member the answer hid.
#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "item_cache/instance_members.h"
#include "item_cache/item_values.h"
#include "item_cache/kept_units.h"

namespace item_cache {

class Recorder {
public:
    // The list kept for the value at the site, made from this request's answer.
    void start_list(std::shared_ptr<MemberList> list) { list_.emplace(std::move(list)); }

    // One completion of jedi's answer, in its order; `computed`: its values follow (values()),
    // otherwise it was hidden and record_list() computes them.
    void completion(py::handle completion, py::handle label, bool computed);
    void values(const ItemValues& values);
    // A completion the list cannot be made from (not jedi's own kind).
    void foreign() {
        if (list_) list_->broken = true;
    }

    // A computed item that may be kept under `key` in `record`; `name` is jedi's name of it.
    void item(std::shared_ptr<Record> record, py::object key, const ItemValues& values, py::object name);

    // The list's entries, computing the hidden members' values with `compute` (which may raise);
    // left unfinished when an entry cannot be kept or `stop()` says so after a computation.
    template <class Compute, class Stop>
    void record_list(Compute&& compute, Stop&& stop);

    // Leaves out the instance members whose values bind to the instance (InstanceMembers::unbound;
    // one that raises is left out, and `failed` hears of it).
    template <class Failed>
    void drop_bound(const InstanceMembers& members, Failed&& failed);

    void drop_items() { pending_.clear(); }
    // A list is being made, so every entry of the answer counts, kept in a record or not.
    bool making_list() const { return list_ && !list_->broken; }
    bool has_anything() const { return !pending_.empty() || (list_ && list_->done); }

    // Keeps what was made, with `deps` as its dependencies, and writes it to the store.
    void keep(const Deps& deps);

private:
    struct Recorded {
        py::object completion, label;
        ItemValues values;
        bool computed;
    };
    struct ListBeingMade {
        explicit ListBeingMade(std::shared_ptr<MemberList> list) : list(std::move(list)) {}
        std::shared_ptr<MemberList> list;
        std::vector<Recorded> entries;
        py::object done;  // the entries, once complete
        bool broken = false;
    };
    struct Pending {
        std::shared_ptr<Record> record;
        py::object key;
        ItemValues values;
        py::object name;
    };

    // Records and lists are kept entry by entry; an entry of another shape cannot be.
    static py::object list_entry(const Recorded& r);

    std::optional<ListBeingMade> list_;
    std::vector<Pending> pending_;
};

template <class Compute, class Stop>
void Recorder::record_list(Compute&& compute, Stop&& stop) {
    if (!list_ || list_->broken || stop()) return;
    py::list entries;
    for (Recorded& r : list_->entries) {
        if (!r.computed) {
            compute(r.completion, r.label, r.values);
            if (stop()) return;
        }
        py::object entry = list_entry(r);
        if (!entry) return;
        entries.append(entry);
    }
    if (stop()) return;
    list_->done = std::move(entries);
}

template <class Failed>
void Recorder::drop_bound(const InstanceMembers& members, Failed&& failed) {
    std::vector<Pending> kept;
    for (Pending& p : pending_) {
        if (pyobj::except_exception([&] { return members.unbound(p.name); },
                                    [&](py::error_already_set&) { return failed(), false; })) {
            kept.push_back(std::move(p));
        }
    }
    pending_ = std::move(kept);
}

}  // namespace item_cache
