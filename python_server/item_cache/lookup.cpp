// Finding the kept record of a completion's module and the kept list of a value, for one request.
#include "item_cache/lookup.h"

#include <time.h>

#include "item_cache/key.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache {

namespace {

using pyobj::attr;

int64_t now_ns() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

Lookup::Lookup(py::handle script, LibraryFiles library)
    : script_(py::reinterpret_borrow<py::object>(script)), library_(std::move(library)), start_ns_(now_ns()),
      request_(kept::new_request()) {
    py::object names = pyobj::import(PYOBJ_NAME("jedi.inference.names"));
    stub_name_type_ = attr(names, PYOBJ_NAME("StubName"));
    tree_name_type_ = attr(names, PYOBJ_NAME("TreeNameDefinition"));
}

bool Lookup::opened() {
    if (!checked_) {
        checked_ = true;
        std::optional<JediState> jedi = JediState::of(script_, library_.sync_folder());
        // A library file open in the editor: nothing is cached around its unsaved text.
        if (!jedi || library_.in_library(library_.script_path())) return false;
        jedi_.emplace(std::move(*jedi));
        files_.emplace(*jedi_, library_, library_.script_path(), start_ns_);
    }
    return files_.has_value();
}

std::shared_ptr<MemberList> Lookup::list(const std::string& described) {
    return kept::list(jedi_->context(), key::member_list_id(described), request_, [&](const Deps& d) { return holds(d); });
}

std::optional<Deps> Lookup::sources() {
    std::optional<Deps> read = files_->read_by_request();
    if (!read) return std::nullopt;
    return sources_.made_from(*read);
}

std::pair<std::shared_ptr<Record>, py::object> Lookup::entry_of(py::handle completion) {
    std::pair<std::shared_ptr<Record>, py::object> none;
    py::object name = attr(completion, PYOBJ_NAME("_name"));
    PyObject* name_type = reinterpret_cast<PyObject*>(Py_TYPE(name.ptr()));
    char kind = name_type == stub_name_type_.ptr() ? 'S' : name_type == tree_name_type_.ptr() ? 'T' : 0;
    py::object context;
    if (kind) {
        context = attr(name, PYOBJ_NAME("parent_context"));
    } else {
        name = instance_members_.plain_member(name);
        if (!name) return none;
        kind = 'I';
        context = pyobj::call_method(attr(name, PYOBJ_NAME("parent_context")), PYOBJ_NAME("get_root_context"));
    }
    std::shared_ptr<Record> record = record_of(context);
    if (!record) return none;
    py::object tree_name = attr(name, PYOBJ_NAME("tree_name"));
    if (tree_name.is_none()) return none;
    // An imported name is kept like any other: its answers come from the modules the import
    // reaches, and the request loaded those, so they are among the entry's dependencies.
    py::object definition = pyobj::call_method(tree_name, PYOBJ_NAME("get_definition"));
    if (definition.is_none()) return none;
    py::object position = attr(tree_name, PYOBJ_NAME("start_pos"));
    py::object text = attr(tree_name, PYOBJ_NAME("value"));
    if (!PyTuple_CheckExact(position.ptr()) || PyTuple_GET_SIZE(position.ptr()) != 2 || !PyUnicode_CheckExact(text.ptr())) {
        return none;
    }
    return {record, key::entry_key(kind, PyTuple_GET_ITEM(position.ptr(), 0), PyTuple_GET_ITEM(position.ptr(), 1), text)};
}

// The record of a module context, looked up once per context and request; null when the module's
// names are not cached.
std::shared_ptr<Record> Lookup::record_of(py::handle context) {
    for (auto& [known, record] : contexts_) {
        if (known.ptr() == context.ptr()) return record;
    }
    std::shared_ptr<Record> record = resolve(context);
    contexts_.emplace_back(py::reinterpret_borrow<py::object>(context), record);
    return record;
}

std::shared_ptr<Record> Lookup::resolve(py::handle context) {
    if (!pyobj::truthy(pyobj::call_method(context, PYOBJ_NAME("is_module")))) return nullptr;
    py::object own_file = pyobj::call_method(context, PYOBJ_NAME("py__file__"));
    if (own_file.is_none()) return nullptr;
    std::string path = normalised_path(pyobj::steal(PyOS_FSPath(own_file.ptr())));
    if (path.empty() || library_.is_users_text(path) || !library_.is_library_file(path) || !opened()) return nullptr;
    return kept::record(jedi_->context(), path, request_, [&](const Deps& d) { return holds(d); });
}

}  // namespace item_cache
