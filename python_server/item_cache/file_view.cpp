// A request's view of the files: their states read once per path, and the process-wide facts
// kept about them (unsaved texts, imports, folder listings, texts found current).
#include "item_cache/file_view.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>

#include <memory>
#include <utility>

#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache {

namespace {

// A file written this recently may have been read by jedi before the write: not cached yet.
constexpr int64_t kSettleNs = 2'000'000'000;
// Stands for every name: a search path entry that is an archive may provide any module.
const char* const kAnyName = "*";

// What a module's code says about its imports: the first names it imports, and whether it changes
// its own search path.
struct ModuleCode {
    std::vector<std::string> imported;
    bool changes_search_path = false;
    bool read = false;
};

// What the process learnt of files, used under the jedi lock; never destroyed (they outlive no interpreter).
struct FileFacts {
    std::unordered_map<std::string, int64_t> unsaved;  // path -> modification time when opened
    std::unordered_map<std::string, std::pair<FileState, ModuleCode>> imports;
    std::unordered_map<std::string, std::pair<FileState, std::set<std::string>>> listings;
    // path -> the file's state and the lines found equal to its text (jedi's module and parso's
    // cache each hold their own list of the same text)
    std::unordered_map<std::string, std::pair<FileState, std::vector<py::object>>> texts;
};

FileFacts& facts() {
    static FileFacts* m = new FileFacts;
    return *m;
}

std::string parent_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The module name a folder entry provides: "json.py", "json.pyi", "json/", "json-stubs/",
// "json.cpython-39-x86_64-linux-gnu.so" all provide "json".
std::string module_name_of(const std::string& entry) {
    std::string name = entry.substr(0, entry.find('.'));
    const std::string stubs = "-stubs";
    if (name.size() > stubs.size() && name.compare(name.size() - stubs.size(), stubs.size(), stubs) == 0) {
        name.resize(name.size() - stubs.size());
    }
    return name;
}

std::set<std::string> list_names(const std::string& folder) {
    std::set<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(folder.c_str()), ::closedir);
    if (!d) return names;
    while (struct dirent* e = ::readdir(d.get())) {
        std::string name = module_name_of(e->d_name);
        if (!name.empty()) names.insert(std::move(name));
    }
    return names;
}

// Whether jedi's helper process may know an older state of `path` than `now`: it lists folders
// (importlib keeps a listing while the folder's modification time stays) and imports compiled
// modules once, and it started before the change. A folder whose modification time was kept
// (`cp -a`, `rsync -a`, `tar x`) shows a later change time; a new build of a compiled module or
// anything else not Python source counts from its change time.
bool helper_may_be_behind(const std::string& path, const FileState& now, const std::optional<int64_t>& helper_started) {
    if (!helper_started || now.changed_ns() < *helper_started) return false;
    if (now.is_dir) return now.ctime_ns != now.mtime_ns;
    auto ends_with = [&](const char* suffix) {
        size_t n = std::strlen(suffix);
        return path.size() >= n && path.compare(path.size() - n, n, suffix) == 0;
    };
    return !ends_with(".py") && !ends_with(".pyi");
}

}  // namespace

FileView::FileView(const JediState& jedi, const LibraryFiles& library, std::string script_path, int64_t start_ns)
    : jedi_(jedi), library_(library), script_path_(std::move(script_path)), start_ns_(start_ns) {}

void FileView::opened_unsaved(const std::string& path) {
    std::optional<FileState> now = file_state(path);
    if (now && !now->is_dir) facts().unsaved[path] = now->mtime_ns;
}

const std::optional<FileState>& FileView::state(const std::string& path) {
    auto found = states_.find(path);
    if (found == states_.end()) found = states_.emplace(path, file_state(path)).first;
    return found->second;
}

bool FileView::tainted(const std::string& path, const std::optional<FileState>& now) const {
    auto found = facts().unsaved.find(path);
    if (found == facts().unsaved.end()) return false;
    // jedi's parser keeps the unsaved text until the file's modification time moves past it.
    if (now && now->mtime_ns > found->second) {
        facts().unsaved.erase(found);
        return false;
    }
    return true;
}

const std::set<std::string>& FileView::user_names() {
    if (user_names_) return *user_names_;
    std::set<std::string> names;
    std::vector<std::string> folders;
    for (const std::string& entry : jedi_.search_path()) {
        if (library_.in_library(entry)) continue;
        folders.push_back(entry);
        // The request's own file is a module of the folder it lies in, saved or not.
        if (!script_path_.empty() && is_under(script_path_, entry) && script_path_.size() > entry.size() + 1) {
            std::string rest = script_path_.substr(entry.size() + (entry.back() == '/' ? 0 : 1));
            names.insert(module_name_of(rest.substr(0, rest.find('/'))));
        }
    }
    // jedi also searches the folders between the request's file and the project's root.
    const std::string& project = jedi_.project_path();
    if (!project.empty() && is_under(script_path_, project)) {
        for (std::string folder = parent_of(script_path_); folder.size() > project.size(); folder = parent_of(folder)) {
            folders.push_back(folder);
        }
    }
    for (const std::string& folder : folders) {
        const std::optional<FileState>& now = state(folder);
        if (!now) continue;
        if (!now->is_dir) {
            names.insert(kAnyName);
            continue;
        }
        // A folder that changed just now may change again within its timestamp's granularity:
        // listed afresh until it settled.
        if (now->changed_ns() > start_ns_ - kSettleNs) {
            std::set<std::string> listed = list_names(folder);
            names.insert(listed.begin(), listed.end());
            continue;
        }
        auto& listing = facts().listings[folder];
        if (!(listing.first == *now) || listing.second.empty()) listing = {*now, list_names(folder)};
        names.insert(listing.second.begin(), listing.second.end());
    }
    user_names_ = std::move(names);
    return *user_names_;
}

bool FileView::holds(const Deps& deps) {
    for (const auto& [path, recorded] : deps.files) {
        const std::optional<FileState>& now = state(path);
        if (!(now == recorded) || tainted(path, now)) return false;
        if (!now || now->is_dir) continue;
        // jedi's parser answers imports of the path from a tree it keeps, which may hold an
        // editor's unsaved text (any request's, or a host's own jedi.Script).
        for (const py::object& lines : parsed_.lines_for(path, now->mtime_ns)) {
            if (!text_is_current(path, lines)) return false;
        }
    }
    const std::set<std::string>& provided = user_names();
    if (provided.count(kAnyName)) return false;
    for (const std::string& name : deps.names) {
        if (provided.count(name)) return false;
    }
    return true;
}

bool FileView::text_is_current(const std::string& path, py::handle code_lines) {
    const std::optional<FileState>& now = state(path);
    if (!now) return false;
    constexpr size_t kKeptLines = 4;
    auto& seen = facts().texts[path];
    if (!(seen.first == *now)) seen = {*now, {}};
    for (const py::object& lines : seen.second) {
        if (lines.ptr() == code_lines.ptr()) return true;
    }
    if (!is_text_on_disk(path, code_lines)) return false;
    if (seen.second.size() == kKeptLines) seen.second.erase(seen.second.begin());
    seen.second.push_back(py::reinterpret_borrow<py::object>(code_lines));
    return true;
}

std::optional<Deps> FileView::read_by_request() {
    Deps deps;
    std::vector<std::string> users;
    std::optional<int64_t> helper_started = jedi_.helper_started_ns();
    auto add_file = [&](const std::string& path) {
        const std::optional<FileState>& now = state(path);
        deps.files[path] = now;
        return !tainted(path, now) && (!now || (now->changed_ns() <= start_ns_ - kSettleNs && !helper_may_be_behind(path, *now, helper_started)));
    };
    std::vector<LoadedModule> loaded = jedi_.loaded();
    for (const LoadedModule& module : loaded) {
        for (const std::string& file : module.files) {
            if (library_.is_users_text(file)) users.push_back(module.top);
        }
    }
    for (const LoadedModule& module : loaded) {
        bool user = false;
        for (const std::string& file : module.files) user = user || library_.is_users_text(file);
        // jedi's note that the user's module has no stub is the user's module too (the request's
        // own text is `__main__` to jedi, and looking up the stub of a user's value notes it).
        bool users_stub = module.files.empty() && std::find(users.begin(), users.end(), module.top) != users.end();
        if (user || users_stub) continue;
        deps.names.insert(module.top);
        for (const std::string& file : module.files) {
            if (!add_file(file) || !add_file(parent_of(file))) return std::nullopt;
        }
        for (const std::string& folder : module.portions) {
            if (!add_file(folder)) return std::nullopt;
        }
        if (module.files.size() != 1) continue;
        if (module.code_lines && !text_is_current(module.files[0], module.code_lines)) return std::nullopt;
        if (!module.tree) continue;
        // What the module's code imports, read once per version of its file.
        auto& code = facts().imports[module.files[0]];
        const std::optional<FileState>& now = state(module.files[0]);
        if (!now || !(code.first == *now) || !code.second.read) {
            code = {now.value_or(FileState()), ModuleCode{imported_names(module.tree), changes_search_path(module.tree), true}};
        }
        // jedi searches the folders such code adds, which nothing here watches.
        if (code.second.changes_search_path) return std::nullopt;
        deps.names.insert(code.second.imported.begin(), code.second.imported.end());
    }
    // A module added to a library folder of the search path may answer a name that failed before.
    for (const std::string& entry : jedi_.search_path()) {
        if (library_.in_library(entry) && !add_file(entry)) return std::nullopt;
    }
    for (const std::string& name : names_jedi_imports()) deps.names.insert(name);
    // The user's code is in an answer only through a name that library code or jedi imports.
    for (const std::string& name : users) {
        if (deps.names.count(name)) return std::nullopt;
    }
    return deps;
}

}  // namespace item_cache
