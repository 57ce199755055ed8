// Library roots, file states and normalised paths.
#include "item_cache/library_files.h"

#include <sys/stat.h>

#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache {

using pyobj::attr;
using pyobj::call_method;
using pyobj::import;

namespace {

// The real os.path, not the module global: the cache makes no call a test could observe.
py::object os_path() { return import(PYOBJ_NAME("os.path")); }

}  // namespace

std::string normalised_path(py::handle path) {
    if (!PyUnicode_Check(path.ptr()) || PyUnicode_GET_LENGTH(path.ptr()) == 0) return std::string();
    py::object module = os_path();
    py::object absolute = call_method(module, PYOBJ_NAME("abspath"), path);
    return pyobj::utf8(call_method(module, PYOBJ_NAME("normpath"), absolute));
}

bool is_under(const std::string& path, const std::string& root) {
    if (root.empty() || path.compare(0, root.size(), root) != 0) return false;
    return path.size() == root.size() || path[root.size()] == '/' || root.back() == '/';
}

namespace {

void add(std::vector<std::string>& into, py::handle path) {
    std::string text = normalised_path(path);
    if (!text.empty()) into.push_back(std::move(text));
}

}  // namespace

std::optional<FileState> file_state(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return std::nullopt;
    auto ns = [](const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; };
    FileState out;
    out.size = static_cast<int64_t>(st.st_size);
    out.mtime_ns = ns(st.st_mtim);
    out.ctime_ns = ns(st.st_ctim);
    out.ino = static_cast<uint64_t>(st.st_ino);
    out.dev = static_cast<uint64_t>(st.st_dev);
    out.is_dir = S_ISDIR(st.st_mode);
    return out;
}

LibraryFiles::LibraryFiles(py::handle self, py::handle script_path) : self_(self) {
    py::object temp_dir = attr(self, PYOBJ_NAME("_temp_dir"));
    if (pyobj::truthy(temp_dir)) sync_folder_ = normalised_path(attr(temp_dir, PYOBJ_NAME("name")));
    excluded_.push_back(sync_folder_);
    add(excluded_, attr(self, PYOBJ_NAME("_workspace_path")));
    script_path_ = normalised_path(script_path);
}

// Read when first needed (sysconfig and site are asked at every request that needs them, so a
// changed search scheme counts at once).
const std::vector<std::string>& LibraryFiles::roots() const {
    if (roots_) return *roots_;
    std::vector<std::string> roots;
    py::object paths = call_method(import(PYOBJ_NAME("sysconfig")), PYOBJ_NAME("get_paths"));
    for (pyobj::Name* key : {&PYOBJ_NAME("stdlib"), &PYOBJ_NAME("platstdlib"), &PYOBJ_NAME("purelib"), &PYOBJ_NAME("platlib")}) {
        add(roots, call_method(paths, PYOBJ_NAME("get"), key->get()));
    }
    py::object getsitepackages;
    if (pyobj::get_attr_if_present(import(PYOBJ_NAME("site")), PYOBJ_NAME("getsitepackages"), getsitepackages)) {
        for (py::handle p : pyobj::call(getsitepackages)) add(roots, p);
    }
    py::object jedi_file = attr(import(PYOBJ_NAME("jedi")), PYOBJ_NAME("__file__"));
    py::object jedi_folder = call_method(os_path(), PYOBJ_NAME("dirname"), jedi_file);
    add(roots, call_method(os_path(), PYOBJ_NAME("join"), jedi_folder, PYOBJ_NAME("third_party").get()));
    add(roots, attr(self_, PYOBJ_NAME("_stubs_path")));
    roots_ = std::move(roots);
    return *roots_;
}

bool LibraryFiles::is_library_file(const std::string& path) const { return path != script_path_ && in_library(path); }

bool LibraryFiles::is_users_text(const std::string& path) const {
    return path == script_path_ || is_under(path, sync_folder_);
}

bool LibraryFiles::in_library(const std::string& path) const {
    for (const std::string& root : excluded_) {
        if (is_under(path, root)) return false;
    }
    for (const std::string& root : roots()) {
        if (is_under(path, root)) return true;
    }
    return false;
}

}  // namespace item_cache
