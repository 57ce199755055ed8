// The item cache's keys, built here and nowhere else: the resolution context, the record of a
// module under a context, a member list's id, an entry's key, the disk store's header and file
// name, and the format number. The format number is derived from the descriptions below, so a
// change of what goes into a key or a stored record changes it: a part added to the context fails
// to compile until it is named here (context() takes exactly kContextPartCount parts), and naming
// it moves the number.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "pyobj/errors.h"  // Py_ssize_t, py::

namespace item_cache::key {

// What JediState::of writes into the context, in this order; the search path's entries follow.
inline constexpr const char* kContextParts[] = {
    "sys.version",   "sys.executable",         "jedi.__version__",          "jedi.__file__",
    "parso.__version__", "this module's build", "environment.executable", "environment.version_info",
    "jedi.settings' public values but case folding",
};
inline constexpr size_t kContextPartCount = std::size(kContextParts);

// An entry's key within its record: the name's kind (kEntryKinds), the line and column of its
// definition and its text, as PyUnicode_FromFormat writes them.
inline constexpr const char kEntryKey[] = "%c:%S:%S:%U";
inline constexpr const char kEntryKinds[] =
    "S a module-level stub name; T a module-level tree name; I a class's function or property through an instance";

// The header a stored record carries, all of which must match; the file's name is its digest.
inline constexpr const char* kHeaderFields[] = {"format", "python", "jedi", "module", "context"};

// What the store keeps besides the header, part by part; the readers check each stored row's
// length against these, so a shape changes only with its description, and with it the number.
// A record: {"entries": {entry key: [kEntryValues]}, "files": [[kDepsRow] or [path, null]], "names": [str]}.
inline constexpr const char* kEntryValues[] = {"type", "detail or null", "documentation or null"};
inline constexpr const char* kDepsRow[] = {"path", "size", "mtime_ns", "ctime_ns", "ino", "dev", "is_dir"};
inline constexpr Py_ssize_t kEntryValueCount = std::size(kEntryValues);
inline constexpr Py_ssize_t kDepsRowCount = std::size(kDepsRow);

// A member list (member_lists.h): its id, and its rows (under "members", with "files" and "names").
inline constexpr const char kMemberListKey[] = "members\n<the value's description>";
inline constexpr const char* kMemberValues[] = {"filter string", "label", "is an import name", "type",
                                                 "detail or null", "documentation or null"};
inline constexpr Py_ssize_t kMemberValueCount = std::size(kMemberValues);

namespace detail {
constexpr uint32_t fnv1a(const char* text, uint32_t hash) {
    for (; *text; ++text) hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
    return (hash ^ '\n') * 16777619u;
}
constexpr uint32_t digest() {
    uint32_t hash = 2166136261u;
    for (const char* part : kContextParts) hash = fnv1a(part, hash);
    hash = fnv1a(kEntryKey, hash);
    hash = fnv1a(kEntryKinds, hash);
    for (const char* field : kHeaderFields) hash = fnv1a(field, hash);
    for (const char* part : kEntryValues) hash = fnv1a(part, hash);
    for (const char* part : kDepsRow) hash = fnv1a(part, hash);
    hash = fnv1a(kMemberListKey, hash);
    for (const char* part : kMemberValues) hash = fnv1a(part, hash);
    return hash;
}
}  // namespace detail

// The store's format number.
inline constexpr long kFormat = static_cast<long>(detail::digest() & 0x7fffffff);

// This module's own build: the file it was loaded from, with its size, modification time and
// inode. Items are made by this build's code, so another build's records are not its answers.
const std::string& build_identity();

// jedi.settings' public values but case folding (read when a list is served), as text; nothing
// when one is of a type whose text may not tell two values apart.
std::optional<std::string> settings_text();

// The context's text: its parts in kContextParts' order, then the search path's entries, where
// the bridge's sync folder (another for every bridge) stands by a fixed name.
using ContextParts = py::object[kContextPartCount];
std::string context(const ContextParts& parts, const std::vector<std::string>& search_path, const std::string& sync_folder);

// The memory part's key of a module's record, or of a member list, under a context.
std::string record_key(const std::string& context, const std::string& module);

// The id a member list is kept under, from the value's description (kMemberListKey).
std::string member_list_id(const std::string& described);

// An entry's key (kEntryKey).
py::object entry_key(char kind, py::handle line, py::handle column, py::handle text);

// The header of a stored record (kHeaderFields).
py::dict header(const std::string& context, py::handle module);

// The hex digits of a store file's name.
inline constexpr size_t kFileNameDigits = 32;

// A stored record's file name: a digest of all its header's fields, so that it carries what the
// header does.
std::string file_name(py::handle header);

}  // namespace item_cache::key
