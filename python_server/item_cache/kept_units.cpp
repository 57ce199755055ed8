// The kept units in memory, their bounds, and their form in the disk store.
#include "item_cache/kept_units.h"

#include <optional>
#include <unordered_map>
#include <utility>

#include "item_cache/key.h"
#include "item_cache/member_lists.h"
#include "item_cache/store.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"
#include "workspace/search_generation.h"

namespace item_cache {

void Record::forget() {
    entries = py::dict();
    deps = Deps();
}

void MemberList::forget() {
    entries = py::object();
    deps = Deps();
}

namespace kept {

using pyobj::Name;

namespace {

// The whole cache holds at most this many items; the least recently used modules go first.
constexpr Py_ssize_t kMaxEntries = 40000;
// ... and at most this many member lists.
constexpr size_t kMaxMemberLists = 200;

template <class Unit>
using Units = std::unordered_map<std::string, std::shared_ptr<Unit>>;

struct Memory {
    Units<Record> records;
    Units<MemberList> lists;
    uint64_t clock = 0;
    uint64_t requests = 0;
    uint64_t generation = 0;  // the search generation the units were filled under
};

// Never destroyed: its objects must not be released after the interpreter is gone.
Memory& memory() {
    static Memory* s = new Memory;
    return *s;
}

bool is_exact_str_or_none(py::handle value) { return value.is_none() || PyUnicode_CheckExact(value.ptr()); }

// A stored record's entries as the memory holds them; a null object when their shape is wrong.
py::object entries_from_json(py::handle stored) {
    if (!PyDict_CheckExact(stored.ptr())) return py::object();
    py::dict entries;
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(stored.ptr(), &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key) || !PyList_CheckExact(value) || PyList_GET_SIZE(value) != key::kEntryValueCount) {
            return py::object();
        }
        py::handle type = PyList_GET_ITEM(value, 0), detail = PyList_GET_ITEM(value, 1),
                   documentation = PyList_GET_ITEM(value, 2);
        if (!PyUnicode_CheckExact(type.ptr()) || !is_exact_str_or_none(detail) || !is_exact_str_or_none(documentation)) {
            return py::object();
        }
        entries[key] = py::make_tuple(type, detail, documentation);
    }
    return std::move(entries);
}

py::object stored_entries(const Record&, py::handle stored) { return entries_from_json(stored); }
py::object stored_entries(const MemberList&, py::handle stored) { return members::entries_from_json(stored); }
void set_entries(Record& record, py::object entries) { record.entries = py::reinterpret_steal<py::dict>(entries.release()); }
void set_entries(MemberList& list, py::object entries) { list.entries = std::move(entries); }
Name& entries_field(const Record&) { return PYOBJ_NAME("entries"); }
Name& entries_field(const MemberList&) { return PYOBJ_NAME("members"); }

// Fills a new unit from the disk store when a file was written for it.
template <class Unit>
void load_stored(Unit& unit) {
    std::optional<Deps> deps;
    py::object entries;
    py::object stored = store::load(key::header(unit.context, unit.id), [&](py::handle s) {
        deps = Deps::from_json(s);
        py::object found = pyobj::dict_get(s, entries_field(unit));
        entries = found ? stored_entries(unit, found) : py::object();
        return deps && entries;
    });
    if (!stored) return;
    unit.deps = std::move(*deps);
    set_entries(unit, std::move(entries));
}

template <class Unit>
void save_stored(const Unit& unit, py::handle entries) {
    if (!store::enabled()) return;
    py::dict payload = unit.deps.to_json();
    pyobj::set_item(payload, entries_field(unit), entries);
    store::save(key::header(unit.context, unit.id), payload);
}

template <class Unit>
std::shared_ptr<Unit> checked(Units<Unit>& units, const std::string& context, const std::string& id, uint64_t request,
                              const std::function<bool(const Deps&)>& holds) {
    Memory& s = memory();
    std::shared_ptr<Unit>& slot = units[key::record_key(context, id)];
    if (slot && slot->checked_by != request && !holds(slot->deps)) slot.reset();
    if (!slot) {
        slot = std::make_shared<Unit>();
        slot->context = context;
        slot->id = py::str(id);
        if (store::enabled()) load_stored(*slot);
        if (!holds(slot->deps)) slot->forget();
    }
    slot->checked_by = request;
    slot->last_used = ++s.clock;
    return slot;
}

}  // namespace

uint64_t new_request() {
    Memory& s = memory();
    uint64_t now = workspace::search_generation();
    if (s.generation != now) {
        s.records.clear();
        s.lists.clear();
        s.generation = now;
    }
    return ++s.requests;
}

std::shared_ptr<Record> record(const std::string& context, const std::string& id, uint64_t request,
                               const std::function<bool(const Deps&)>& holds) {
    return checked(memory().records, context, id, request, holds);
}

std::shared_ptr<MemberList> list(const std::string& context, const std::string& id, uint64_t request,
                                 const std::function<bool(const Deps&)>& holds) {
    return checked(memory().lists, context, id, request, holds);
}

void save(const Record& record) { save_stored(record, record.entries); }
void save(const MemberList& list) { save_stored(list, list.entries); }

void trim() {
    Memory& s = memory();
    for (;;) {
        Py_ssize_t total = 0;
        auto oldest = s.records.end();
        for (auto it = s.records.begin(); it != s.records.end(); ++it) {
            total += PyDict_GET_SIZE(it->second->entries.ptr());
            if (oldest == s.records.end() || it->second->last_used < oldest->second->last_used) oldest = it;
        }
        if (total <= kMaxEntries || oldest == s.records.end()) break;
        s.records.erase(oldest);
    }
    while (s.lists.size() > kMaxMemberLists) {
        auto oldest = s.lists.begin();
        for (auto it = s.lists.begin(); it != s.lists.end(); ++it) {
            if (it->second->last_used < oldest->second->last_used) oldest = it;
        }
        s.lists.erase(oldest);
    }
}

}  // namespace kept

}  // namespace item_cache
