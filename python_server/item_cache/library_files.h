// Which files count as library files for the item cache: under the interpreter's standard
// library or site-packages, jedi's bundled stubs or the host's stubs folder, and not the user's
// (the sync directory, the workspace, the request's own file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pyobj/errors.h"

namespace item_cache {

// What identifies one version of a file or folder. The change time is in it because nobody can
// set it back: a file replaced by one with an old modification time (tar, cp -p, rsync -a, a hard
// link) still shows a new change time, and so does a folder that gained or lost a name.
struct FileState {
    int64_t size = 0;
    int64_t mtime_ns = 0;
    int64_t ctime_ns = 0;
    uint64_t ino = 0;
    uint64_t dev = 0;
    bool is_dir = false;
    bool operator==(const FileState& o) const {
        return size == o.size && mtime_ns == o.mtime_ns && ctime_ns == o.ctime_ns && ino == o.ino && dev == o.dev &&
               is_dir == o.is_dir;
    }
    // The last moment it changed.
    int64_t changed_ns() const { return mtime_ns > ctime_ns ? mtime_ns : ctime_ns; }
};

// os.path.normpath(os.path.abspath(path)) as UTF-8; "" for a value that is no usable path.
std::string normalised_path(py::handle path);

// stat() of a regular file or a folder given as UTF-8 (links followed: what a reader opens);
// nothing for any other kind of file or one that cannot be read.
std::optional<FileState> file_state(const std::string& path);

// `path` is `root` or lies inside it (both normalised).
bool is_under(const std::string& path, const std::string& root);

class LibraryFiles {
public:
    LibraryFiles(py::handle self, py::handle script_path);
    bool is_library_file(const std::string& path) const;
    // Under a library root and in none of the user's folders; the request's own file counts.
    bool in_library(const std::string& path) const;
    // The text the user edits: a synced module or the request's own file, which may be unsaved.
    bool is_users_text(const std::string& path) const;
    const std::string& sync_folder() const { return sync_folder_; }
    const std::string& script_path() const { return script_path_; }

private:
    const std::vector<std::string>& roots() const;

    py::handle self_;
    mutable std::optional<std::vector<std::string>> roots_;
    std::vector<std::string> excluded_;
    std::string script_path_, sync_folder_;
};

}  // namespace item_cache
