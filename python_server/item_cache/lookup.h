// Where one request finds what is kept: the record of the module that defines a completion's name
// with the key of its entry, and the member list of a described value. Each unit is checked
// against the request's files once, and every unit served from goes into the request's Sources,
// the dependencies of whatever the request keeps.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "item_cache/instance_members.h"
#include "item_cache/file_view.h"
#include "item_cache/kept_units.h"
#include "item_cache/library_files.h"

namespace item_cache {

class Lookup {
public:
    // `script` is the request's jedi.Script.
    Lookup(py::handle script, LibraryFiles library);

    // What the cache needs of jedi and the files, made when a library module's name first needs
    // it (a request on the user's own names never pays for it); false when the cache must stay
    // out of this request.
    bool opened();

    // The record of the module defining a completion's name and the entry's key; a null key for
    // a completion the cache must not answer. Raises on anything unexpected.
    std::pair<std::shared_ptr<Record>, py::object> entry_of(py::handle completion);

    // The member list kept under `described`; without entries when none may be served. Only
    // after opened() returned true.
    std::shared_ptr<MemberList> list(const std::string& described);

    // An answer's part is served from `unit`: what it was read from is what the request read.
    void served(const KeptUnit& unit) { sources_.served(unit.deps); }

    // What the request keeps depends on: what its jedi read and every unit served from. Nothing
    // when the request may not keep anything (file_view.h). Only after opened() returned true.
    std::optional<Deps> sources();

    const LibraryFiles& library() const { return library_; }
    py::handle script() const { return script_; }
    // Only after opened() returned true.
    const JediState& jedi() const { return *jedi_; }
    InstanceMembers& instance_members() { return instance_members_; }

private:
    std::shared_ptr<Record> record_of(py::handle context);
    std::shared_ptr<Record> resolve(py::handle context);
    bool holds(const Deps& deps) { return files_->holds(deps); }

    py::object script_;
    LibraryFiles library_;
    int64_t start_ns_;
    uint64_t request_;
    bool checked_ = false;
    std::optional<JediState> jedi_;
    std::optional<FileView> files_;
    Sources sources_;
    py::object stub_name_type_, tree_name_type_;
    InstanceMembers instance_members_;
    std::vector<std::pair<py::object, std::shared_ptr<Record>>> contexts_;
};

}  // namespace item_cache
