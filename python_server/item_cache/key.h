// The item cache's keys in one place: the resolution context's parts, the record of a module
// under a context, an entry's key, the disk store's header, and the format number. The format
// number is derived from the descriptions below, so a change of what goes into a key or a
// stored record changes it: a part added to the context fails to compile until it is named
// here (JediState::of checks the count), and naming it moves the number.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>

#include "pyobj/errors.h"

namespace item_cache::key {

// What JediState::of writes into the context, in this order; the search path's entries follow.
inline constexpr const char* kContextParts[] = {
    "sys.version",   "sys.executable",         "jedi.__version__",          "jedi.__file__",
    "parso.__version__", "this module's build", "environment.executable", "environment.version_info",
};
inline constexpr size_t kContextPartCount = std::size(kContextParts);

// An entry's key within its record: the name's kind (kEntryKinds), the line and column of its
// definition and its text, as PyUnicode_FromFormat writes them.
inline constexpr const char kEntryKey[] = "%c:%S:%S:%U";
inline constexpr const char kEntryKinds[] =
    "S a module-level stub name; T a module-level tree name; I a class's function or property through an instance";

// The header a stored record carries, all of which must match; the file's name is its digest.
inline constexpr const char* kHeaderFields[] = {"format", "python", "jedi", "module", "context"};

// What the store keeps besides the header: the entries and the dependencies' rows.
inline constexpr const char kStoredShape[] =
    "entries: {key: [type, detail or null, documentation or null]}; "
    "files: [[path, size, mtime_ns, ctime_ns, ino, dev, is_dir] or [path, null]]; names: [str]";

// A member list (member_lists.h): its record's module part, and what the store keeps of it.
inline constexpr const char kMemberListKey[] = "members\n<jedi.settings' public values>\n<the value's description>";
inline constexpr const char kStoredMemberShape[] =
    "members: [[filter string, label, import name, type, detail or null, documentation or null]]";

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
    hash = fnv1a(kMemberListKey, hash);
    hash = fnv1a(kStoredMemberShape, hash);
    return fnv1a(kStoredShape, hash);
}
}  // namespace detail

// The store's format number.
inline constexpr long kFormat = static_cast<long>(detail::digest() & 0x7fffffff);

// The memory part's key of a module's record under a context.
std::string record_key(const std::string& context, const std::string& module);

// An entry's key (kEntryKey).
py::object entry_key(char kind, py::handle line, py::handle column, py::handle text);

// The header of a stored record (kHeaderFields).
py::dict header(const std::string& context, py::handle module);

}  // namespace item_cache::key
