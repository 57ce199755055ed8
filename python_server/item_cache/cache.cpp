#include "item_cache/cache.h"

#include <time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "item_cache/instance_members.h"
#include "item_cache/jedi_own.h"
#include "item_cache/key.h"
#include "item_cache/library_files.h"
#include "item_cache/member_lists.h"
#include "item_cache/store.h"
#include "item_cache/world.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"
#include "workspace/search_generation.h"

namespace item_cache {

namespace {

using pyobj::Name;
using pyobj::utf8;

// The whole cache holds at most this many items; the least recently used modules go first.
constexpr Py_ssize_t kMaxEntries = 40000;
// ... and at most this many member lists.
constexpr size_t kMaxMemberLists = 200;

// What a record and a member list share: where they are kept, and what they were read from.
struct Kept {
    std::string context;
    py::object id;  // str: what is kept under the context (a module's file, a described value)
    Deps deps;
    uint64_t last_used = 0;
    uint64_t checked_by = 0;  // the request that last found its dependencies unchanged
};

// The items of one defining module (id: its own file) under one resolution context.
struct Record : Kept {
    py::dict entries;    // key -> (type, detail or None, documentation or None)
    bool dirty = false;  // gained entries the disk store lacks
    void forget() {
        entries = py::dict();
        deps = Deps();
    }
};

// The member list of one library value (id: jedi's settings and the value's description) under
// one resolution context (member_lists.h).
struct MemberList : Kept {
    py::object entries;  // list of (filter string, label, import name, type, detail, documentation); null: none yet
    void forget() {
        entries = py::object();
        deps = Deps();
    }
};

struct Memory {
    std::unordered_map<std::string, std::shared_ptr<Record>> records;
    std::unordered_map<std::string, std::shared_ptr<MemberList>> lists;
    uint64_t clock = 0;
    uint64_t requests = 0;
    uint64_t generation = 0;  // the search generation the records were filled under
};

// Never destroyed: its objects must not be released after the interpreter is gone.
Memory& memory() {
    static Memory* s = new Memory;
    return *s;
}

void evict_over_bound() {
    Memory& s = memory();
    for (;;) {
        Py_ssize_t total = 0;
        auto oldest = s.records.end();
        for (auto it = s.records.begin(); it != s.records.end(); ++it) {
            total += PyDict_GET_SIZE(it->second->entries.ptr());
            if (oldest == s.records.end() || it->second->last_used < oldest->second->last_used) oldest = it;
        }
        if (total <= kMaxEntries || oldest == s.records.end()) return;
        s.records.erase(oldest);
    }
}

void evict_lists_over_bound() {
    Memory& s = memory();
    while (s.lists.size() > kMaxMemberLists) {
        auto oldest = s.lists.begin();
        for (auto it = s.lists.begin(); it != s.lists.end(); ++it) {
            if (it->second->last_used < oldest->second->last_used) oldest = it;
        }
        s.lists.erase(oldest);
    }
}

int64_t now_ns() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

py::object type_in(Name& module, Name& name) { return pyobj::attr(pyobj::import(module), name); }

// update_sys_paths or set_workspace since the records were filled: memory is given back. (The
// records stay exact without it: each is tied to the search path it was filled under.)
void forget_if_stale() {
    Memory& s = memory();
    uint64_t now = workspace::search_generation();
    if (s.generation == now) return;
    s.records.clear();
    s.lists.clear();
    s.generation = now;
}

// The disk store's header of a record: what a file must have been written for.
py::dict header_of(const Record& record) { return key::header(record.context, record.id); }

bool is_exact_str_or_none(py::handle value) { return value.is_none() || PyUnicode_CheckExact(value.ptr()); }

// The entries of a stored record as the cache holds them; a null object when their shape is wrong.
py::object entries_from_json(py::handle stored) {
    if (!PyDict_CheckExact(stored.ptr())) return py::object();
    py::dict entries;
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(stored.ptr(), &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key) || !PyList_CheckExact(value) || PyList_GET_SIZE(value) != 3) return py::object();
        py::handle type = PyList_GET_ITEM(value, 0), detail = PyList_GET_ITEM(value, 1),
                   documentation = PyList_GET_ITEM(value, 2);
        if (!PyUnicode_CheckExact(type.ptr()) || !is_exact_str_or_none(detail) || !is_exact_str_or_none(documentation)) {
            return py::object();
        }
        entries[key] = py::make_tuple(type, detail, documentation);
    }
    return std::move(entries);
}

// Fills a new record from the disk store when a file was written for it.
void load_stored(Record& record) {
    std::optional<Deps> deps;
    py::object entries;
    py::object stored = store::load(header_of(record), [&](py::handle s) {
        deps = Deps::from_json(s);
        py::object stored_entries = pyobj::dict_get(s, PYOBJ_NAME("entries"));
        entries = stored_entries ? entries_from_json(stored_entries) : py::object();
        return deps && entries;
    });
    if (!stored) return;
    record.deps = std::move(*deps);
    record.entries = py::reinterpret_steal<py::dict>(entries.release());
}

void save_stored(const Record& record) {
    py::dict payload = record.deps.to_json();
    payload["entries"] = record.entries;
    store::save(header_of(record), payload);
}

void load_stored(MemberList& list) {
    std::optional<Deps> deps;
    py::object entries;
    py::object stored = store::load(key::header(list.context, list.id), [&](py::handle s) {
        deps = Deps::from_json(s);
        py::object stored_entries = pyobj::dict_get(s, PYOBJ_NAME("members"));
        entries = stored_entries ? members::entries_from_json(stored_entries) : py::object();
        return deps && entries;
    });
    if (!stored) return;
    list.deps = std::move(*deps);
    list.entries = entries;
}

void save_stored(const MemberList& list) {
    py::dict payload = list.deps.to_json();
    payload["members"] = list.entries;
    store::save(key::header(list.context, list.id), payload);
}

}  // namespace

class ItemCache::Session {
public:
    Session(py::handle self, py::handle script, LibraryFiles library, const ItemMaker& maker)
        : self_(self), maker_(maker), script_(py::reinterpret_borrow<py::object>(script)), library_(std::move(library)),
          start_ns_(now_ns()), generation_(workspace::search_generation()), id_(++memory().requests) {
        forget_if_stale();
        Name& names = PYOBJ_NAME("jedi.inference.names");
        completion_type_ = type_in(PYOBJ_NAME("jedi.api.classes"), PYOBJ_NAME("Completion"));
        stub_name_type_ = type_in(names, PYOBJ_NAME("StubName"));
        tree_name_type_ = type_in(names, PYOBJ_NAME("TreeNameDefinition"));
    }

    py::object item(py::handle completion, bool show_underscores) {
        if (Py_TYPE(completion.ptr()) != reinterpret_cast<PyTypeObject*>(completion_type_.ptr())) {
            if (recording_) recording_->broken = true;
            return maker_.item(self_, completion, show_underscores);
        }
        py::object name = pyobj::attr(completion, PYOBJ_NAME("name"));
        bool hidden = !show_underscores && maker_.starts_with_underscore(name);
        if (recording_) recording_->entries.push_back({py::reinterpret_borrow<py::object>(completion), name, {}, !hidden});
        if (hidden) return py::object();
        ItemValues values;
        py::object item = computed(completion, name, values);
        if (recording_) recording_->entries.back().values = std::move(values);
        return item;
    }

    std::optional<ServedList> served_members(py::handle line, py::handle column, bool show_underscores) {
        if (!members::skipped_code_is_own()) return std::nullopt;
        // The site first: a completion on the user's own values never pays for the cache's state.
        std::optional<members::Site> site = members::site_of(script_, line, column, library_);
        if (!site || !ready()) return std::nullopt;
        std::shared_ptr<MemberList> list = list_of("members\n" + members::settings_text() + site->value);
        if (list->entries) return members::serve(list->entries, site->like_name, show_underscores, maker_);
        // Kept only from the dot just typed, whose answer holds every member.
        if (PyUnicode_GET_LENGTH(site->like_name.ptr()) == 0) {
            recording_.emplace();
            recording_->list = std::move(list);
        }
        return std::nullopt;
    }

    void complete_members() {
        record_hidden_members();
        drop_bound_members();
    }

    void finish() {
        bool list_done = recording_ && recording_->done;
        if ((pending_.empty() && !list_done) || generation_ != workspace::search_generation()) return;
        // What the answers were read from is known once the last item is made.
        std::optional<Deps> deps = world_->read_by_request();
        if (!deps) return;
        if (list_done) {
            MemberList& list = *recording_->list;
            list.entries = recording_->done;
            list.deps = *deps;
            if (store::enabled()) save_stored(list);
            evict_lists_over_bound();
        }
        finish_items(*deps);
    }

private:
    // The entries of the list being recorded, the names the answer hid included.
    void record_hidden_members() {
        // Past a limit nothing is kept: the hidden names are not worth computing then.
        if (!recording_ || recording_->broken || jedi_->limit_reached()) return;
        py::list entries;
        for (Recorded& r : recording_->entries) {
            if (!r.computed) computed(r.completion, r.label, r.values);
            py::object entry = members::entry(r.completion, r.label, r.values);
            if (!entry) return;
            entries.append(entry);
        }
        if (jedi_->limit_reached()) return;
        recording_->done = std::move(entries);
    }

    // The item of a completion that passed the underscore rule, with its values: from the cache,
    // or computed (and remembered when it may be).
    py::object computed(py::handle completion, py::handle name, ItemValues& values) {
        std::shared_ptr<Record> record;
        py::object key = pyobj::except_exception([&] { return key_of(completion, record); },
                                                 [](py::error_already_set&) { return py::object(); });
        if (!key) return maker_.computed(self_, completion, name, &values);
        if (py::object hit = pyobj::dict_get(record->entries, key)) {
            values = values_of(hit);
            return maker_.from_values(name, values);
        }
        py::object item = maker_.computed(self_, completion, name, &values);
        // Once a limit is met, what jedi computes depends on what came first: nothing more is kept.
        limited_ = limited_ || pyobj::except_exception([&] { return jedi_->limit_reached(); },
                                                       [](py::error_already_set&) { return true; });
        if (!limited_ && cacheable(values)) pending_.push_back({record, key, values, pyobj::attr(completion, PYOBJ_NAME("_name"))});
        return item;
    }

    // Leaves out the instance members whose values bind to the instance. It infers the member
    // again, so it runs once the answer and the hidden names are made (jedi's limits count
    // inferences within a request), and still inside the request's question (a stop ends it).
    void drop_bound_members() {
        std::vector<Pending> kept;
        for (Pending& p : pending_) {
            if (pyobj::except_exception([&] { return instance_members_.unbound(p.name); },
                                        [](py::error_already_set&) { return false; })) {
                kept.push_back(std::move(p));
            }
        }
        pending_ = std::move(kept);
    }

    void finish_items(const Deps& deps) {
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
            if (store::enabled()) save_stored(*record);
        }
        evict_over_bound();
    }

    // The member list kept under `described` for this context; without entries when none may be served.
    std::shared_ptr<MemberList> list_of(const std::string& described) { return checked(memory().lists, described); }

    // The unit kept under `id` for this context, loaded from the disk store when the memory lacks
    // it. Its dependencies are checked once per request; a unit whose world changed is dropped.
    template <class Unit>
    std::shared_ptr<Unit> checked(std::unordered_map<std::string, std::shared_ptr<Unit>>& units, const std::string& id) {
        Memory& s = memory();
        std::shared_ptr<Unit>& slot = units[key::record_key(jedi_->context(), id)];
        if (slot && slot->checked_by != id_ && !world_->holds(slot->deps)) slot.reset();
        if (!slot) {
            slot = std::make_shared<Unit>();
            slot->context = jedi_->context();
            slot->id = py::str(id);
            // Loaded lazily: the first request that needs it reads its file.
            if (store::enabled()) load_stored(*slot);
            if (!world_->holds(slot->deps)) slot->forget();
        }
        slot->checked_by = id_;
        slot->last_used = ++s.clock;
        return slot;
    }

    // What the cache needs of jedi and the files, made when a library module's name first needs
    // it (a request on the user's own names never pays for it); false when the cache must stay
    // out of this request.
    bool ready() {
        if (!checked_) {
            checked_ = true;
            std::optional<JediState> jedi = JediState::of(script_, library_.sync_folder());
            // A library file open in the editor: nothing is cached around its unsaved text.
            if (!jedi || library_.in_library(library_.script_path())) return false;
            jedi_.emplace(std::move(*jedi));
            world_.emplace(*jedi_, library_, library_.script_path(), start_ns_);
        }
        return world_.has_value();
    }

    // What the request's own answer gives a member list: each completion, its label, its values.
    struct Recorded {
        py::object completion, label;
        ItemValues values;
        bool computed;
    };
    struct Recording {
        std::shared_ptr<MemberList> list;
        std::vector<Recorded> entries;
        py::object done;  // the entries, once complete and kept from a request within jedi's limits
        bool broken = false;
    };

    struct Pending {
        std::shared_ptr<Record> record;
        py::object key;
        ItemValues values;
        py::object name;  // jedi's name of the completion
    };

    static py::object or_none(const py::object& part) { return part ? part : py::object(py::none()); }

    // Kept when nothing failed and every part is a plain str.
    static bool cacheable(const ItemValues& values) {
        auto plain = [](const py::object& part) { return !part || PyUnicode_CheckExact(part.ptr()); };
        return !values.failed && PyUnicode_CheckExact(values.type.ptr()) && plain(values.detail) &&
               plain(values.documentation);
    }

    // The entry key of a cacheable completion, with the record of its module; a null object for a
    // completion the cache must not answer.
    py::object key_of(py::handle completion, std::shared_ptr<Record>& record) {
        using pyobj::attr;
        // jedi's own per-module cache of a few big packages answers those names from whatever it saw first.
        if (!attr(completion, PYOBJ_NAME("_cached_name")).is_none()) return py::object();
        py::object name = attr(completion, PYOBJ_NAME("_name"));
        PyObject* name_type = reinterpret_cast<PyObject*>(Py_TYPE(name.ptr()));
        char kind = name_type == stub_name_type_.ptr() ? 'S' : name_type == tree_name_type_.ptr() ? 'T' : 0;
        py::object context;
        if (kind) {
            context = attr(name, PYOBJ_NAME("parent_context"));
        } else {
            name = instance_members_.plain_member(name);
            if (!name) return py::object();
            kind = 'I';
            context = pyobj::call_method(attr(name, PYOBJ_NAME("parent_context")), PYOBJ_NAME("get_root_context"));
        }
        record = record_of(context);
        if (!record) return py::object();
        py::object tree_name = attr(name, PYOBJ_NAME("tree_name"));
        if (tree_name.is_none()) return py::object();
        // An imported name is kept like any other: its answers come from the modules the import
        // reaches, and the request loaded those, so they are among the entry's dependencies.
        py::object definition = pyobj::call_method(tree_name, PYOBJ_NAME("get_definition"));
        if (definition.is_none()) return py::object();
        py::object position = attr(tree_name, PYOBJ_NAME("start_pos"));
        py::object text = attr(tree_name, PYOBJ_NAME("value"));
        if (!PyTuple_CheckExact(position.ptr()) || PyTuple_GET_SIZE(position.ptr()) != 2 ||
            !PyUnicode_CheckExact(text.ptr())) {
            return py::object();
        }
        return key::entry_key(kind, PyTuple_GET_ITEM(position.ptr(), 0), PyTuple_GET_ITEM(position.ptr(), 1), text);
    }

    // The record of a module context, looked up once per context and request; null when the
    // module's names are not cached.
    std::shared_ptr<Record> record_of(py::handle context) {
        for (auto& [known, record] : contexts_) {
            if (known.ptr() == context.ptr()) return record;
        }
        std::shared_ptr<Record> record =
            pyobj::except_exception([&] { return resolve(context); },
                                    [](py::error_already_set&) { return std::shared_ptr<Record>(); });
        contexts_.emplace_back(py::reinterpret_borrow<py::object>(context), record);
        return record;
    }

    std::shared_ptr<Record> resolve(py::handle context) {
        if (!pyobj::truthy(pyobj::call_method(context, PYOBJ_NAME("is_module")))) return nullptr;
        py::object own_file = pyobj::call_method(context, PYOBJ_NAME("py__file__"));
        if (own_file.is_none()) return nullptr;
        std::string path = normalised_path(pyobj::steal(PyOS_FSPath(own_file.ptr())));
        if (path.empty() || library_.is_users_text(path) || !library_.is_library_file(path) || !ready()) return nullptr;
        return checked(memory().records, path);
    }

    static ItemValues values_of(py::handle entry) {
        ItemValues values;
        values.type = py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(entry.ptr(), 0));
        for (int i : {1, 2}) {
            PyObject* part = PyTuple_GET_ITEM(entry.ptr(), i);
            if (part == Py_None) continue;
            (i == 1 ? values.detail : values.documentation) = py::reinterpret_borrow<py::object>(part);
        }
        return values;
    }

    py::handle self_;
    const ItemMaker& maker_;
    py::object script_;
    LibraryFiles library_;
    int64_t start_ns_;
    bool checked_ = false;
    bool limited_ = false;  // jedi met a limit in this request: nothing computed since is kept
    std::optional<JediState> jedi_;
    std::optional<World> world_;
    uint64_t generation_;
    uint64_t id_;
    py::object completion_type_, stub_name_type_, tree_name_type_;
    InstanceMembers instance_members_;
    std::vector<std::pair<py::object, std::shared_ptr<Record>>> contexts_;
    std::vector<Pending> pending_;
    std::optional<Recording> recording_;
};

ItemCache::ItemCache(py::handle self, py::handle script_path, py::handle script, const ItemMaker& maker)
    : self_(self), maker_(maker) {
    // Any failure here only means no cache for this request.
    pyobj::except_exception(
        [&] {
            if (!bridge_is_own(self)) return;
            LibraryFiles library(self, script_path);
            // A file open in the editor: its text may be unsaved, and jedi will answer from that
            // text for the path (in this request and later ones) until the file changes.
            if (!is_under(library.script_path(), library.sync_folder())) World::opened_unsaved(library.script_path());
            session_ = std::make_unique<Session>(self, script, std::move(library), maker);
        },
        [](py::error_already_set&) {});
}

ItemCache::~ItemCache() = default;

py::object ItemCache::item(py::handle completion, bool show_underscores) {
    if (!session_) return maker_.item(self_, completion, show_underscores);
    return session_->item(completion, show_underscores);
}

std::optional<ServedList> ItemCache::served_members(py::handle line, py::handle column, bool show_underscores) {
    if (!session_) return std::nullopt;
    // Any failure here means jedi is asked, as without the lists.
    return pyobj::except_exception([&] { return session_->served_members(line, column, show_underscores); },
                                   [](py::error_already_set&) { return std::optional<ServedList>(); });
}

void ItemCache::complete_members() {
    if (!session_) return;
    pyobj::except_exception([&] { session_->complete_members(); }, [](py::error_already_set&) {});
}

void ItemCache::finish() {
    if (!session_) return;
    // A failure here costs the cache, never the answer.
    pyobj::except_exception([&] { session_->finish(); }, [](py::error_already_set&) {});
}

}  // namespace item_cache
