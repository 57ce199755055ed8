// What a kept answer was read from: the files and folders (their states) and the module names
// whose resolution it relied on, which no search path folder of the user's may provide; and the
// one place that gathers them for what a request keeps.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "item_cache/library_files.h"

namespace item_cache {

struct Deps {
    std::map<std::string, std::optional<FileState>> files;  // nothing: the path must stay absent
    std::set<std::string> names;
    void merge(const Deps& other);

    // As the disk store keeps them: {"files": [[path, size, mtime, ctime, ino, dev, is_dir] or
    // [path, None], ...], "names": [...]}, and back from a stored dict (nothing when its shape
    // or a number is wrong).
    py::dict to_json() const;
    static std::optional<Deps> from_json(py::handle stored);
};

// What the answers a request keeps are made from: the files its jedi read, and every kept unit
// (record, list) it served parts from, whose files this request's jedi never read. The one place
// a kept unit's dependencies are gathered, so a unit made from served parts cannot miss theirs.
class Sources {
public:
    // A part of the answer was served from a kept unit with these dependencies.
    void served(const Deps& deps) { served_.merge(deps); }
    // The dependencies of what the request keeps, given what its jedi read.
    Deps made_from(const Deps& read_by_jedi) const {
        Deps all = served_;
        all.merge(read_by_jedi);
        return all;
    }

private:
    Deps served_;
};

}  // namespace item_cache
