#include "completion/item_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "pyobj/calls.h"
#include "pyobj/log.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace completion::item_store {

namespace {

constexpr long kFormat = 1;
constexpr size_t kMaxFiles = 256;                   // the folder never holds more modules than this
constexpr size_t kKeptFiles = 192;                  // what pruning leaves
constexpr off_t kMaxFileSize = 64L * 1024 * 1024;   // larger is no file of ours
constexpr time_t kAbandonedTempAge = 600;           // seconds: a writer that died left it

py::module_ module(const char* name) { return py::module_::import(name); }

[[noreturn]] void raise_os_error(py::handle path) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
    pyobj::throw_error();
}

void ignored(py::handle path, py::handle reason) {
    pyobj::debug(PYOBJ_NAME("[LSP] Ignoring completion item cache file %s: %s"), path, reason);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string fs_bytes(py::handle path) {
    py::object encoded = pyobj::steal(PyUnicode_EncodeFSDefault(path.ptr()));
    return std::string(PyBytes_AS_STRING(encoded.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr())));
}

// The whole file, or a null object when it does not exist. A file of another user, or one too
// large to be ours, raises ValueError.
py::object read_file(py::handle path) {
    Fd fd(::open(fs_bytes(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) {
        if (errno == ENOENT) return py::object();
        raise_os_error(path);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) raise_os_error(path);
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) pyobj::raise(PyExc_ValueError, "not a file of this user");
    if (st.st_size > kMaxFileSize) pyobj::raise(PyExc_ValueError, "too large");
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) raise_os_error(path);
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    return py::bytes(data);
}

void write_all(int fd, const char* data, size_t size, py::handle path) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) raise_os_error(path);
        data += n;
        size -= static_cast<size_t>(n);
    }
}

bool is_exact_str_or_none(py::handle value) { return value.is_none() || PyUnicode_CheckExact(value.ptr()); }

// The entries of a parsed file as the cache holds them, or a null object when their shape is wrong.
py::object entries_of(py::handle stored) {
    if (!PyDict_CheckExact(stored.ptr())) return py::object();
    py::dict entries;
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(stored.ptr(), &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key) || !PyList_CheckExact(value) || PyList_GET_SIZE(value) != 3) return py::object();
        py::handle type = PyList_GET_ITEM(value, 0), detail = PyList_GET_ITEM(value, 1),
                   documentation = PyList_GET_ITEM(value, 2);
        if (!PyUnicode_CheckExact(type.ptr()) || !is_exact_str_or_none(detail) || !is_exact_str_or_none(documentation)) {
            return py::object();
        }
        entries[key] = py::make_tuple(type, detail, documentation);
    }
    return std::move(entries);
}

py::object versions_header(py::handle module_id) {
    py::dict header;
    header["format"] = py::int_(kFormat);
    header["python"] = module("sys").attr("version");
    header["jedi"] = module("jedi").attr("__version__");
    header["module"] = module_id;
    return std::move(header);
}

// One file name per interpreter, jedi version and module.
py::object file_path(py::handle folder, py::handle module_id) {
    py::str identity = pyobj::concat(module("sys").attr("version"), "\n", module("jedi").attr("__version__"), "\n",
                                     module_id);
    py::object digest = module("hashlib").attr("sha256")(identity.attr("encode")("utf-8", "surrogatepass"));
    py::object name = pyobj::concat(digest.attr("hexdigest")()[py::slice(0, 32, 1)], ".json");
    return module("os.path").attr("join")(folder, name);
}

struct Listed {
    std::string path;
    time_t mtime;
};

// Keeps the folder bounded: the least recently written modules go first; temporary files of
// writers that died are removed too.
void prune(py::handle folder) {
    std::string dir = fs_bytes(folder);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::vector<Listed> files;
    time_t now = ::time(nullptr);
    while (struct dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        std::string full = dir + "/" + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (name.rfind(".tmp-", 0) == 0) {
            if (now - st.st_mtime > kAbandonedTempAge) ::unlink(full.c_str());
        } else if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) {
            files.push_back({full, st.st_mtime});
        }
    }
    ::closedir(d);
    if (files.size() <= kMaxFiles) return;
    std::sort(files.begin(), files.end(), [](const Listed& a, const Listed& b) { return a.mtime < b.mtime; });
    for (size_t i = 0; i + kKeptFiles < files.size(); ++i) ::unlink(files[i].path.c_str());
}

}  // namespace

py::object folder() {
    py::object environ = module("os").attr("environ");
    if (pyobj::truthy(environ.attr("get")("LSP_BRIDGE_NO_PERSISTENT_CACHE", ""))) return py::object();
    py::object cache_directory = module("jedi").attr("settings").attr("cache_directory");
    return module("os.path").attr("join")(cache_directory, "lsp_bridge_items");
}

py::object load(py::handle folder, py::handle module_id, py::handle files) {
    py::object path = file_path(folder, module_id);
    return pyobj::except_exception(
        [&]() -> py::object {
            py::object data = read_file(path);
            if (!data) return py::object();
            py::object stored = module("json").attr("loads")(data);
            if (!PyDict_CheckExact(stored.ptr())) {
                ignored(path, py::str("not a JSON object"));
                return py::object();
            }
            py::dict header = versions_header(module_id);
            for (auto field : header) {
                PyObject* value = PyDict_GetItemWithError(stored.ptr(), field.first.ptr());
                if (!value && PyErr_Occurred()) pyobj::throw_error();
                if (!value || !py::handle(value).equal(field.second)) {
                    ignored(path, py::str("written for another module or version"));
                    return py::object();
                }
            }
            PyObject* stored_files = PyDict_GetItemString(stored.ptr(), "files");
            // Written for other contents of the module's files: stale, not broken.
            if (!stored_files || !py::handle(stored_files).equal(files)) return py::object();
            PyObject* stored_entries = PyDict_GetItemString(stored.ptr(), "entries");
            py::object entries = stored_entries ? entries_of(stored_entries) : py::object();
            if (!entries) ignored(path, py::str("malformed entries"));
            return entries;
        },
        [&](py::error_already_set& e) -> py::object {
            ignored(path, pyobj::error_text(e));
            return py::object();
        });
}

void save(py::handle folder, py::handle module_id, py::handle files, py::handle entries) {
    py::object path = file_path(folder, module_id);
    pyobj::except_exception(
        [&] {
            py::dict data = versions_header(module_id);
            data["files"] = files;
            data["entries"] = entries;
            py::object text = module("json").attr("dumps")(data);  // ASCII: non-ASCII text is escaped
            py::object encoded = text.attr("encode")("ascii");
            module("os").attr("makedirs")(folder, py::arg("exist_ok") = true);
            std::string temp = fs_bytes(folder) + "/.tmp-XXXXXX";
            Fd fd(::mkstemp(&temp[0]));
            if (fd.get() < 0) raise_os_error(folder);
            try {
                write_all(fd.get(), PyBytes_AS_STRING(encoded.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr())),
                          path);
                // The rename is atomic: a reader sees the old file or the new one, never half of one.
                if (::rename(temp.c_str(), fs_bytes(path).c_str()) != 0) raise_os_error(path);
            } catch (...) {
                ::unlink(temp.c_str());
                throw;
            }
        },
        [&](py::error_already_set& e) {
            pyobj::debug(PYOBJ_NAME("[LSP] Could not write completion item cache file %s: %s"), path, pyobj::error_text(e));
        });
    pyobj::except_exception([&] { prune(folder); }, [](py::error_already_set&) {});
}

}  // namespace completion::item_store
