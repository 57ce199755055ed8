// Recording a request's items and list, and keeping them once the answer is whole.
#include "item_cache/recorder.h"

#include "item_cache/member_lists.h"

namespace item_cache {

namespace {

py::object or_none(const py::object& part) { return part ? part : py::object(py::none()); }

}  // namespace

void Recorder::completion(py::handle completion, py::handle label, bool computed) {
    if (!list_) return;
    list_->entries.push_back({py::reinterpret_borrow<py::object>(completion), py::reinterpret_borrow<py::object>(label), {}, computed});
}

void Recorder::values(const ItemValues& values) {
    if (list_ && !list_->entries.empty()) list_->entries.back().values = values;
}

void Recorder::item(std::shared_ptr<Record> record, py::object key, const ItemValues& values, py::object name) {
    pending_.push_back({std::move(record), std::move(key), values, std::move(name)});
}

py::object Recorder::list_entry(const Recorded& r) { return members::entry(r.completion, r.label, r.values); }

void Recorder::keep(const Deps& deps) {
    if (list_ && list_->done) {
        MemberList& list = *list_->list;
        list.entries = list_->done;
        list.deps = deps;
        kept::save(list);
    }
    std::vector<std::shared_ptr<Record>> gained;
    for (Pending& p : pending_) {
        if (!p.record->dirty) {
            p.record->deps.merge(deps);
            p.record->dirty = true;
            gained.push_back(p.record);
        }
        p.record->entries[p.key] = py::make_tuple(p.values.type, or_none(p.values.detail), or_none(p.values.documentation));
    }
    for (const std::shared_ptr<Record>& record : gained) {
        record->dirty = false;
        kept::save(*record);
    }
    kept::trim();
}

}  // namespace item_cache
