// One request's use of the item cache: serving items and lists, recording what may be kept, and
// keeping it once the answer is whole.
#include "item_cache/cache.h"

#include <chrono>
#include <optional>
#include <utility>

#include "item_cache/jedi_as_shipped.h"
#include "item_cache/key.h"
#include "item_cache/lookup.h"
#include "item_cache/member_lists.h"
#include "item_cache/recorder.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"
#include "workspace/search_generation.h"

namespace item_cache {

namespace {

ItemValues values_of(py::handle entry) {
    ItemValues values;
    values.type = py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(entry.ptr(), 0));
    for (int i : {1, 2}) {
        PyObject* part = PyTuple_GET_ITEM(entry.ptr(), i);
        if (part == Py_None) continue;
        (i == 1 ? values.detail : values.documentation) = py::reinterpret_borrow<py::object>(part);
    }
    return values;
}

// Kept when nothing failed, this request made it, and every part is a plain str.
bool cacheable(const ItemValues& values) {
    auto plain = [](const py::object& part) { return !part || PyUnicode_CheckExact(part.ptr()); };
    return !values.failed && !values.borrowed && PyUnicode_CheckExact(values.type.ptr()) && plain(values.detail) && plain(values.documentation);
}

// What a request may spend making again, in its own inference state, items that jedi's name
// cache of numpy and the like would answer from an earlier request. Until the module's record
// is whole, each request of its list adds what fits in here, and the list is kept once
// every entry is; the cost is bounded per request rather than paid in one.
constexpr std::chrono::milliseconds kRemakeSlice{60};

}  // namespace

class ItemCache::Session {
public:
    Session(py::handle self, py::handle script, LibraryFiles library, const ItemMaker& maker)
        : self_(self), maker_(maker), lookup_(script, std::move(library)), generation_(workspace::search_generation()),
          completion_type_(pyobj::attr(pyobj::import(PYOBJ_NAME("jedi.api.classes")), PYOBJ_NAME("Completion"))) {}

    py::object item(py::handle completion, bool show_underscores) {
        if (Py_TYPE(completion.ptr()) != reinterpret_cast<PyTypeObject*>(completion_type_.ptr())) {
            recorder_.foreign();
            return maker_.item(self_, completion, show_underscores);
        }
        py::object name = pyobj::attr(completion, PYOBJ_NAME("name"));
        bool hidden = !show_underscores && maker_.starts_with_underscore(name);
        recorder_.completion(completion, name, !hidden);
        if (hidden) return py::object();
        ItemValues values;
        py::object item = computed(completion, name, values);
        recorder_.values(values);
        return item;
    }

    std::optional<ServedList> served_members(py::handle line, py::handle column, bool show_underscores) {
        if (!members::skipped_code_is_own()) return std::nullopt;
        // The site first: a completion on the user's own values never pays for the cache's state.
        std::optional<members::Site> site = members::site_of(lookup_.script(), line, column, lookup_.library());
        if (!site || !lookup_.opened()) return std::nullopt;
        std::shared_ptr<MemberList> list = lookup_.list(site->value);
        if (list->entries) {
            lookup_.served(*list);
            return members::serve(list->entries, site->like_name, show_underscores, maker_);
        }
        // Kept only from the dot just typed, whose answer holds every member.
        if (PyUnicode_GET_LENGTH(site->like_name.ptr()) == 0) recorder_.start_list(std::move(list));
        return std::nullopt;
    }

    // After the answer's items, still inside the request's question: the hidden names' values for
    // the list, then the binding check of instance members. The check infers the member again, so
    // it runs once the rest is made (jedi's limits count inferences within a request).
    void complete_members() {
        answered_ = true;
        // A list is recorded only once the lookup is open.
        recorder_.record_list([&](py::handle c, py::handle label, ItemValues& v) { computed(c, label, v); },
                              [&] { return failed_ || lookup_.jedi().limit_reached(); });
        // After a failure jedi's memo may answer the check with a default.
        if (failed_) recorder_.drop_items();
        recorder_.drop_bound(lookup_.instance_members(), [&] { met_failure(false); });
    }

    // A step of the cache's own met an exception; `in_answer`: while the answer's jedi state was
    // still to be asked. Nothing of the request is kept.
    void met_failure(bool in_answer) {
        failed_ = limited_ = true;
        answer_at_risk_ = answer_at_risk_ || (in_answer && !answered_);
    }
    bool answer_at_risk() const { return answer_at_risk_; }

    void finish() {
        if (failed_ || !recorder_.has_anything() || generation_ != workspace::search_generation()) return;
        // What the answers were read from is known once the last item is made.
        std::optional<Deps> deps = lookup_.sources();
        if (deps) recorder_.keep(*deps);
    }

private:
    // The item of a completion that passed the underscore rule, with its values: served from its
    // record, or computed (and recorded when it may be kept).
    py::object computed(py::handle completion, py::handle name, ItemValues& values) {
        auto [record, key] = pyobj::except_exception([&] { return lookup_.entry_of(completion); },
                                                     [&](py::error_already_set&) {
                                                         met_failure(true);
                                                         return std::pair<std::shared_ptr<Record>, py::object>();
                                                     });
        if (!key) return made(completion, name, values, recorder_.making_list());
        if (py::object hit = pyobj::dict_get(record->entries, key)) {
            lookup_.served(*record);
            values = values_of(hit);
            return maker_.from_values(name, values);
        }
        py::object item = made(completion, name, values, true);
        // jedi memoizes a default for what raised, so after a failure, as after a limit, what it
        // computes depends on what came first: nothing more is kept.
        if (values.failed) met_failure(false);
        limited_ = limited_ || pyobj::except_exception([&] { return lookup_.jedi().limit_reached(); },
                                                       [&](py::error_already_set&) { return met_failure(true), true; });
        if (!limited_ && cacheable(values)) {
            recorder_.item(std::move(record), std::move(key), values, pyobj::attr(completion, PYOBJ_NAME("_name")));
        }
        return item;
    }

    // `keepable`: a record lacks the item, or a list being made needs it.
    py::object made(py::handle completion, py::handle name, ItemValues& values, bool keepable) {
        // Asked before jedi fills its name cache with this item.
        bool borrowed = pyobj::except_exception([&] { return members::answered_from_jedi_name_cache(completion); },
                                                [&](py::error_already_set&) { return met_failure(false), true; });
        // Without its cached name the completion makes the item in this request's state, as
        // jedi does for any other module, and leaves jedi's name cache as it was.
        bool remade = borrowed && keepable && !limited_ && remade_for_ < kRemakeSlice &&
                      pyobj::except_exception(
                          [&] { return py::setattr(completion, PYOBJ_NAME("_cached_name"), py::none()), true; },
                          [&](py::error_already_set&) { return met_failure(false), false; });
        std::chrono::steady_clock::time_point start;
        if (remade) start = std::chrono::steady_clock::now();
        py::object item = maker_.computed(self_, completion, name, &values);
        if (remade) remade_for_ += std::chrono::steady_clock::now() - start;
        values.borrowed = borrowed && !remade;
        return item;
    }

    py::handle self_;
    const ItemMaker& maker_;
    Lookup lookup_;
    Recorder recorder_;
    uint64_t generation_;
    py::object completion_type_;
    bool limited_ = false;  // jedi met a limit in this request: nothing computed since is kept
    bool failed_ = false;   // a step met an exception: nothing of this request is kept
    bool answer_at_risk_ = false;
    bool answered_ = false;  // the answer's items are made
    std::chrono::steady_clock::duration remade_for_{};  // spent on items jedi's name cache held
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
            if (!is_under(library.script_path(), library.sync_folder())) FileView::opened_unsaved(library.script_path());
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
    // The site is found with jedi's own helpers on the request's Script.
    return pyobj::except_exception([&] { return session_->served_members(line, column, show_underscores); },
                                   [&](py::error_already_set&) {
                                       session_->met_failure(true);
                                       return std::optional<ServedList>();
                                   });
}

void ItemCache::complete_members() {
    if (!session_) return;
    pyobj::except_exception([&] { session_->complete_members(); },
                            [&](py::error_already_set&) { session_->met_failure(false); });
}

bool ItemCache::answer_at_risk() const { return session_ && session_->answer_at_risk(); }

void ItemCache::leave() { session_.reset(); }

void ItemCache::finish() {
    if (!session_) return;
    // A failure here costs the cache, never the answer.
    pyobj::except_exception([&] { session_->finish(); }, [](py::error_already_set&) {});
}

}  // namespace item_cache
