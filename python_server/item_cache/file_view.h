// One request's view of the files and folders, and whether what a kept unit was read from
// (deps.h) still holds in it: its states, an editor's unsaved texts, parso's kept texts, jedi's
// helper process, and the names the user's folders provide.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "item_cache/deps.h"
#include "item_cache/jedi_state.h"
#include "item_cache/library_files.h"

namespace item_cache {

// One request's view of the files and folders, read once per path.
class FileView {
public:
    FileView(const JediState& jedi, const LibraryFiles& library, std::string script_path, int64_t start_ns);

    // Every file and folder is as recorded, none was opened unsaved in the editor, and no search
    // path entry of the user's provides one of the names.
    bool holds(const Deps& deps);

    // What the request's answers were read from; nothing when they may hold the text the user
    // edits (a synced module or the request's file that library code or jedi imports) or a file
    // that was changing (written since shortly before the request began).
    std::optional<Deps> read_by_request();

    // A file on disk was the request's own path, its text possibly unsaved: jedi's parser keeps
    // that text for the path, so until the file changes no answer may rest on it.
    static void opened_unsaved(const std::string& path);

private:
    const std::optional<FileState>& state(const std::string& path);
    const std::set<std::string>& user_names();
    bool tainted(const std::string& path, const std::optional<FileState>& now) const;
    // jedi read the file's current text, not an older one its parser kept.
    bool text_is_current(const std::string& path, py::handle code_lines);

    const JediState& jedi_;
    const LibraryFiles& library_;
    std::string script_path_;
    int64_t start_ns_;
    std::unordered_map<std::string, std::optional<FileState>> states_;
    std::optional<std::set<std::string>> user_names_;
    ParsedTexts parsed_;
};

}  // namespace item_cache
