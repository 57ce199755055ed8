// The disk store's files: reached relative to the opened folder, read and written whole, kept bounded.
#include "item_cache/store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "item_cache/key.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/log.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache::store {

namespace {

constexpr size_t kMaxFiles = 256;                  // the folder never holds more modules than this
constexpr size_t kKeptFiles = 192;                 // what pruning leaves
constexpr off_t kMaxFileSize = 64L * 1024 * 1024;  // larger is no file of ours
constexpr time_t kAbandonedTempAge = 600;          // seconds: a writer that died left it
constexpr size_t kNameDigits = key::kFileNameDigits;
constexpr const char* kTempPrefix = ".tmp-";
constexpr size_t kTempDigits = 16;

using pyobj::attr;
using pyobj::import;

// os.path.join(folder, name)
py::object joined(py::handle folder, py::handle name) {
    return pyobj::call(attr(import(PYOBJ_NAME("os.path")), PYOBJ_NAME("join")), folder, name);
}

// json.dumps / json.loads
py::object json(pyobj::Name& function) { return attr(import(PYOBJ_NAME("json")), function); }

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

bool is_hex(const std::string& text, size_t from, size_t count) {
    if (text.size() < from + count) return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                       text.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The names the store makes: <32 hex digits>.json, and .tmp-<16 hex digits> while writing.
bool is_store_name(const std::string& name) {
    return name.size() == kNameDigits + 5 && is_hex(name, 0, kNameDigits) && name.compare(kNameDigits, 5, ".json") == 0;
}
bool is_temp_name(const std::string& name) {
    size_t prefix = std::char_traits<char>::length(kTempPrefix);
    return name.size() == prefix + kTempDigits && name.compare(0, prefix, kTempPrefix) == 0 &&
           is_hex(name, prefix, kTempDigits);
}

// Folders found unsafe, each reported once; the disk part stays off for them.
std::set<std::string>& refused() {
    static auto* folders = new std::set<std::string>;
    return *folders;
}

// <jedi.settings.cache_directory>/lsp_bridge_items (its path set into `path` first), made if
// missing and opened; null when it is not safe to use (reported once); OSError when it cannot be
// made or opened.
std::unique_ptr<Fd> open_folder(py::object& path) {
    static pyobj::KeywordNames exist_ok{"exist_ok"};
    py::object settings = attr(import(PYOBJ_NAME("jedi")), PYOBJ_NAME("settings"));
    py::object cache_directory = attr(settings, PYOBJ_NAME("cache_directory"));
    path = joined(cache_directory, PYOBJ_NAME("lsp_bridge_items"));
    std::string key = fs_bytes(path);
    if (refused().count(key)) return nullptr;
    pyobj::call_kw(attr(import(PYOBJ_NAME("os")), PYOBJ_NAME("makedirs")), exist_ok, cache_directory, Py_True);
    Fd parent(::open(fs_bytes(cache_directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) raise_os_error(cache_directory);
    if (::mkdirat(parent.get(), "lsp_bridge_items", 0700) != 0 && errno != EEXIST) raise_os_error(path);
    auto folder = std::make_unique<Fd>(::openat(parent.get(), "lsp_bridge_items", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const char* unsafe = nullptr;
    struct stat st {};
    if (folder->get() < 0) {
        if (errno != ELOOP) raise_os_error(path);
        unsafe = "it is a symbolic link";
    } else if (::fstat(folder->get(), &st) != 0) {
        raise_os_error(path);
    } else if (st.st_uid != ::geteuid()) {
        unsafe = "it belongs to another user";
    } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        unsafe = "others may write to it";
    }
    if (!unsafe) return folder;
    refused().insert(key);
    pyobj::debug(PYOBJ_NAME("[LSP] Completion item cache folder %s not used: %s"), path, py::str(unsafe));
    return nullptr;
}

// The whole file, or a null object when it does not exist. Anything but a regular file of this
// user of a plausible size raises ValueError.
py::object read_file(int folder, const std::string& name, py::handle path) {
    Fd fd(::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return py::object();
        if (errno == ELOOP) pyobj::raise(PyExc_ValueError, "not a regular file");
        raise_os_error(path);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) raise_os_error(path);
    if (!S_ISREG(st.st_mode)) pyobj::raise(PyExc_ValueError, "not a regular file");
    if (st.st_uid != ::geteuid()) pyobj::raise(PyExc_ValueError, "not a file of this user");
    if (st.st_size > kMaxFileSize) pyobj::raise(PyExc_ValueError, "too large");
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) raise_os_error(path);
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
        if (data.size() > static_cast<size_t>(kMaxFileSize)) pyobj::raise(PyExc_ValueError, "too large");
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

std::string temp_name() {
    unsigned char bytes[kTempDigits / 2];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        PyErr_SetFromErrno(PyExc_OSError);
        pyobj::throw_error();
    }
    static const char digits[] = "0123456789abcdef";
    std::string name = kTempPrefix;
    for (unsigned char b : bytes) {
        name += digits[b >> 4];
        name += digits[b & 15];
    }
    return name;
}

struct Listed {
    std::string name;
    time_t mtime;
};

// Keeps the folder bounded: the least recently written store files go first; temporary files of
// writers that died are removed too. Nothing else in the folder is touched.
void prune(int folder) {
    int fd = ::dup(folder);
    if (fd < 0) return;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(fd), ::closedir);
    if (!d) {
        ::close(fd);
        return;
    }
    std::vector<Listed> files;
    time_t now = ::time(nullptr);
    while (struct dirent* e = ::readdir(d.get())) {
        std::string name = e->d_name;
        bool store_file = is_store_name(name), temp = is_temp_name(name);
        if (!store_file && !temp) continue;
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid()) {
            continue;
        }
        if (temp) {
            if (now - st.st_mtime > kAbandonedTempAge) ::unlinkat(folder, name.c_str(), 0);
        } else {
            files.push_back({name, st.st_mtime});
        }
    }
    if (files.size() <= kMaxFiles) return;
    std::sort(files.begin(), files.end(), [](const Listed& a, const Listed& b) { return a.mtime < b.mtime; });
    for (size_t i = 0; i + kKeptFiles < files.size(); ++i) ::unlinkat(folder, files[i].name.c_str(), 0);
}

}  // namespace

bool enabled() {
    py::object environ = attr(import(PYOBJ_NAME("os")), PYOBJ_NAME("environ"));
    return !pyobj::truthy(pyobj::call_method(environ, PYOBJ_NAME("get"), PYOBJ_NAME("LSP_BRIDGE_NO_PERSISTENT_CACHE").get(),
                                             PYOBJ_NAME("").get()));
}

py::object load(py::handle header, const std::function<bool(py::handle)>& usable) {
    py::object path = py::none();
    return pyobj::except_exception(
        [&]() -> py::object {
            std::unique_ptr<Fd> folder = open_folder(path);
            if (!folder) return py::object();
            std::string name = key::file_name(header);
            path = joined(path, py::str(name));
            py::object data = read_file(folder->get(), name, path);
            if (!data) return py::object();
            py::object stored = pyobj::call(json(PYOBJ_NAME("loads")), data);
            if (!PyDict_CheckExact(stored.ptr())) {
                ignored(path, py::str("not a JSON object"));
                return py::object();
            }
            for (auto field : py::reinterpret_borrow<py::dict>(header)) {
                py::object value = pyobj::dict_get(stored, field.first);
                if (!value || !pyobj::equals(value, field.second)) {
                    ignored(path, py::str("written for another module or version"));
                    return py::object();
                }
            }
            if (usable(stored)) return stored;
            ignored(path, py::str("malformed entries"));
            return py::object();
        },
        [&](py::error_already_set& e) -> py::object {
            ignored(path, pyobj::error_text(e));
            return py::object();
        });
}

void save(py::handle header, py::handle payload) {
    py::object path = py::none();
    pyobj::except_exception(
        [&] {
            std::unique_ptr<Fd> folder = open_folder(path);
            if (!folder) return;
            std::string name = key::file_name(header);
            path = joined(path, py::str(name));
            py::dict data;
            for (auto field : py::reinterpret_borrow<py::dict>(header)) data[field.first] = field.second;
            for (auto field : py::reinterpret_borrow<py::dict>(payload)) data[field.first] = field.second;
            py::object text = pyobj::call(json(PYOBJ_NAME("dumps")), data);  // ASCII: non-ASCII text is escaped
            py::object encoded = pyobj::call_method(text, PYOBJ_NAME("encode"), PYOBJ_NAME("ascii").get());
            std::string temp = temp_name();
            Fd fd(::openat(folder->get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (fd.get() < 0) raise_os_error(path);
            try {
                write_all(fd.get(), PyBytes_AS_STRING(encoded.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr())),
                          path);
                // The rename is atomic: a reader sees the old file or the new one, never half of one.
                if (::renameat(folder->get(), temp.c_str(), folder->get(), name.c_str()) != 0) raise_os_error(path);
            } catch (...) {
                ::unlinkat(folder->get(), temp.c_str(), 0);
                throw;
            }
            prune(folder->get());
        },
        [&](py::error_already_set& e) {
            pyobj::debug(PYOBJ_NAME("[LSP] Could not write completion item cache file %s: %s"), path, pyobj::error_text(e));
        });
}

}  // namespace item_cache::store
