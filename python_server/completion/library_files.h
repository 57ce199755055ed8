// Which files count as library files for the item cache: under the interpreter's standard
// library or site-packages, jedi's bundled stubs or the host's stubs folder, and not the user's
// (the sync directory, the workspace, the request's own file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pyobj/errors.h"

namespace completion {

struct FileStat {
    int64_t size = 0;
    int64_t mtime_ns = 0;
    bool operator==(const FileStat& o) const { return size == o.size && mtime_ns == o.mtime_ns; }
};

// os.path.normpath(os.path.abspath(path)) as UTF-8; "" for a value that is no usable path.
std::string normalised_path(py::handle path);

// stat() of a path given as UTF-8; false when it cannot be read.
bool stat_file(const std::string& path, FileStat& out);

class LibraryFiles {
public:
    // Reads the roots now (sysconfig and site are asked at every request, so a changed search
    // scheme counts at once).
    LibraryFiles(py::handle self, py::handle script_path);
    bool is_library_file(const std::string& path) const;

private:
    std::vector<std::string> roots_, excluded_;
    std::string script_path_;
};

}  // namespace completion
