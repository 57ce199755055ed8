#include "completion/item_cache.h"

#include <time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "boundary/method_type.h"
#include "completion/completion_item.h"
#include "completion/item_store.h"
#include "completion/library_files.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"
#include "workspace/search_generation.h"

namespace completion {

namespace {

using pyobj::Name;

// The whole cache holds at most this many items; the least recently used modules go first.
constexpr Py_ssize_t kMaxEntries = 40000;
// A file written this recently may have been read by jedi before the write: not cached yet.
constexpr int64_t kSettleNs = 2'000'000'000;

// The items of one defining module. `files` ([[path, size, mtime_ns], ...]: the module's file,
// then the implementation files of a stub) is what every entry was computed from.
struct Record {
    py::object module_id;  // the module's own file
    py::object files;
    py::dict entries;      // key -> (type, detail or None, documentation or None)
    uint64_t last_used = 0;
    bool dirty = false;    // gained entries the disk store lacks
};

struct Store {
    std::unordered_map<std::string, std::shared_ptr<Record>> records;
    uint64_t clock = 0;
    uint64_t generation = 0;  // the search generation the records were filled under
};

// Never destroyed: its objects must not be released after the interpreter is gone.
Store& store() {
    static Store* s = new Store;
    return *s;
}

void evict_over_bound() {
    Store& s = store();
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

int64_t now_ns() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string utf8(py::handle text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (!data) pyobj::throw_error();
    return std::string(data, static_cast<size_t>(size));
}

py::object type_in(const char* module, const char* name) { return py::module_::import(module).attr(name); }

// Whether the bridge's item path is the module's own: the exact LSPBridge class of the module,
// whose _format_signature resolves to the original method (no instance or class override).
bool bridge_is_own(py::handle self) {
    static Name class_name("LSPBridge"), format_signature("_format_signature");
    py::object cls = pyobj::global(class_name);
    if (reinterpret_cast<PyObject*>(Py_TYPE(self.ptr())) != cls.ptr()) return false;
    py::object bound = pyobj::attr(self, format_signature);
    return PyMethod_Check(bound.ptr()) && PyMethod_GET_SELF(bound.ptr()) == self.ptr() &&
           boundary::is_method_named(PyMethod_GET_FUNCTION(bound.ptr()), "_format_signature");
}

// update_sys_paths or set_workspace since the records were filled: what a name resolves to may
// have changed, so they go.
void forget_if_stale() {
    Store& s = store();
    uint64_t now = workspace::search_generation();
    if (s.generation == now) return;
    s.records.clear();
    s.generation = now;
}

}  // namespace

class ItemCache::Request {
public:
    Request(py::handle self, py::handle script_path)
        : self_(self), script_path_(script_path), start_ns_(now_ns()), generation_(workspace::search_generation()) {
        forget_if_stale();
        completion_type_ = type_in("jedi.api.classes", "Completion");
        stub_name_type_ = type_in("jedi.inference.names", "StubName");
        tree_name_type_ = type_in("jedi.inference.names", "TreeNameDefinition");
    }

    py::object item(py::handle completion, bool show_underscores) {
        if (Py_TYPE(completion.ptr()) != reinterpret_cast<PyTypeObject*>(completion_type_.ptr())) {
            return completion_item(self_, completion, show_underscores);
        }
        static Name name_attr("name");
        py::object name = completion.attr(name_attr);
        if (!show_underscores && starts_with_underscore(name)) return py::object();
        std::shared_ptr<Record> record;
        py::object key = pyobj::except_exception([&] { return key_of(completion, record); },
                                                 [](py::error_already_set&) { return py::object(); });
        if (!key) return item_for_name(self_, completion, name, nullptr);
        if (PyObject* hit = PyDict_GetItemWithError(record->entries.ptr(), key.ptr())) {
            return item_from_values(name, values_of(hit));
        }
        if (PyErr_Occurred()) pyobj::throw_error();
        ItemValues values;
        py::object item = item_for_name(self_, completion, name, &values);
        remember(*record, key, values);
        return item;
    }

    void finish() {
        if (generation_ != workspace::search_generation()) return;
        py::object folder;
        bool folder_read = false;
        for (auto& [context, record] : contexts_) {
            if (!record || !record->dirty) continue;
            record->dirty = false;
            if (!files_unchanged(*record)) {
                // A file changed while the request ran: what it computed may mix both versions.
                store().records.erase(utf8(record->module_id));
                continue;
            }
            if (!folder_read) {
                folder = item_store::folder();
                folder_read = true;
            }
            if (folder) item_store::save(folder, record->module_id, record->files, record->entries);
        }
        evict_over_bound();
    }

private:
    // The entry key of a cacheable completion, with the record of its module; a null object for a
    // completion the cache must not answer.
    py::object key_of(py::handle completion, std::shared_ptr<Record>& record) {
        static Name cached_name("_cached_name"), name_attr("_name"), parent_context("parent_context"),
            tree_name_attr("tree_name"), get_definition("get_definition"), type_attr("type"), start_pos("start_pos"),
            value("value");
        // jedi's own per-module cache of a few big packages answers those names from whatever it saw first.
        if (!completion.attr(cached_name).is_none()) return py::object();
        py::object name = completion.attr(name_attr);
        PyObject* name_type = reinterpret_cast<PyObject*>(Py_TYPE(name.ptr()));
        char kind = name_type == stub_name_type_.ptr() ? 'S' : name_type == tree_name_type_.ptr() ? 'T' : 0;
        if (!kind) return py::object();
        record = record_of(name.attr(parent_context));
        if (!record) return py::object();
        py::object tree_name = name.attr(tree_name_attr);
        if (tree_name.is_none()) return py::object();
        py::object definition = pyobj::call_method(tree_name, get_definition);
        if (definition.is_none()) return py::object();
        // An imported name's answers come from another module.
        py::object definition_type = definition.attr(type_attr);
        if (pyobj::equals(definition_type, PYOBJ_NAME("import_from")) ||
            pyobj::equals(definition_type, PYOBJ_NAME("import_name"))) {
            return py::object();
        }
        py::object position = tree_name.attr(start_pos);
        py::object text = tree_name.attr(value);
        if (!PyTuple_CheckExact(position.ptr()) || PyTuple_GET_SIZE(position.ptr()) != 2 ||
            !PyUnicode_CheckExact(text.ptr())) {
            return py::object();
        }
        return pyobj::steal(PyUnicode_FromFormat("%c:%S:%S:%U", kind, PyTuple_GET_ITEM(position.ptr(), 0),
                                                 PyTuple_GET_ITEM(position.ptr(), 1), text.ptr()));
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
        static Name is_module("is_module"), is_stub("is_stub"), py_file("py__file__"), get_value("get_value"),
            non_stub("non_stub_value_set"), is_compiled("is_compiled");
        if (!pyobj::truthy(pyobj::call_method(context, is_module))) return nullptr;
        py::object own_file = pyobj::call_method(context, py_file);
        if (own_file.is_none()) return nullptr;
        py::list files;
        if (!add_file(files, own_file)) return nullptr;
        if (pyobj::truthy(pyobj::call_method(context, is_stub))) {
            // A stub's documentation comes from its implementation: those files count too.
            py::list implementations;
            for (py::handle value : pyobj::call_method(context, get_value).attr(non_stub)) {
                if (pyobj::truthy(pyobj::call_method(value, is_compiled))) {
                    py::list compiled;
                    compiled.append("<compiled>");
                    compiled.append(0);
                    compiled.append(0);
                    implementations.append(compiled);
                    continue;
                }
                py::object file = pyobj::call_method(value, py_file);
                if (file.is_none() || !add_file(implementations, file)) return nullptr;
            }
            if (PyList_Sort(implementations.ptr()) < 0) pyobj::throw_error();
            for (py::handle entry : implementations) files.append(entry);
        }
        py::object module_id = files[py::int_(0)][py::int_(0)];
        std::string id = utf8(module_id);
        Store& s = store();
        std::shared_ptr<Record>& slot = s.records[id];
        bool fresh = !slot || !slot->files.equal(files);
        if (fresh) {
            slot = std::make_shared<Record>();
            slot->module_id = module_id;
            slot->files = files;
        }
        std::shared_ptr<Record> record = slot;
        record->last_used = ++s.clock;
        if (fresh) {
            // Loaded lazily: the first request that needs the module reads its file.
            py::object folder = item_store::folder();
            py::object stored = folder ? item_store::load(folder, module_id, files) : py::object();
            if (stored) record->entries = py::reinterpret_steal<py::dict>(stored.release());
        }
        return record;
    }

    // Appends [path, size, mtime_ns] of a library file; false for any other file, one that cannot
    // be read, or one written so recently that jedi may have read an older version.
    bool add_file(py::list& files, py::handle path_object) {
        std::string path = normalised_path(pyobj::steal(PyOS_FSPath(path_object.ptr())));
        if (path.empty()) return false;
        if (!library_) library_.emplace(self_, script_path_);
        if (!library_->is_library_file(path)) return false;
        auto found = stats_.find(path);
        if (found == stats_.end()) {
            FileStat st;
            found = stats_.emplace(path, stat_file(path, st) ? std::optional<FileStat>(st) : std::nullopt).first;
        }
        const std::optional<FileStat>& st = found->second;
        if (!st || st->mtime_ns > start_ns_ - kSettleNs) return false;
        py::list entry;
        entry.append(py::str(path));
        entry.append(py::int_(st->size));
        entry.append(py::int_(st->mtime_ns));
        files.append(entry);
        return true;
    }

    // Each file of the record still has the size and modification time the request began with.
    static bool files_unchanged(const Record& record) {
        for (py::handle entry : record.files) {
            std::string path = utf8(entry[py::int_(0)]);
            if (path == "<compiled>") continue;
            FileStat st;
            if (!stat_file(path, st) || !py::int_(st.size).equal(entry[py::int_(1)]) ||
                !py::int_(st.mtime_ns).equal(entry[py::int_(2)])) {
                return false;
            }
        }
        return true;
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

    // Stores what an item computed, when nothing failed and every part is a plain str.
    void remember(Record& record, py::handle key, const ItemValues& values) {
        if (values.failed || generation_ != workspace::search_generation()) return;
        auto plain = [](const py::object& part) { return !part || PyUnicode_CheckExact(part.ptr()); };
        if (!PyUnicode_CheckExact(values.type.ptr()) || !plain(values.detail) || !plain(values.documentation)) return;
        auto or_none = [](const py::object& part) { return part ? part : py::object(py::none()); };
        record.entries[key] = py::make_tuple(values.type, or_none(values.detail), or_none(values.documentation));
        record.dirty = true;
    }

    py::handle self_, script_path_;
    int64_t start_ns_;
    uint64_t generation_;
    py::object completion_type_, stub_name_type_, tree_name_type_;
    std::optional<LibraryFiles> library_;
    std::unordered_map<std::string, std::optional<FileStat>> stats_;
    std::vector<std::pair<py::object, std::shared_ptr<Record>>> contexts_;
};

ItemCache::ItemCache(py::handle self, py::handle script_path) : self_(self) {
    // Any failure here only means no cache for this request.
    pyobj::except_exception(
        [&] {
            if (bridge_is_own(self)) request_ = std::make_unique<Request>(self, script_path);
        },
        [](py::error_already_set&) {});
}

ItemCache::~ItemCache() = default;

py::object ItemCache::item(py::handle completion, bool show_underscores) {
    if (!request_) return completion_item(self_, completion, show_underscores);
    return request_->item(completion, show_underscores);
}

void ItemCache::finish() {
    if (request_) request_->finish();
}

}  // namespace completion
