#include "runtime/parso_pickles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "pyobj/calls.h"
#include "pyobj/gil.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace runtime {
namespace parso_pickles {

namespace {

// No write takes this long: a temporary file this old was left by a writer that died, whatever
// its process id says now (ids are reused).
constexpr time_t kAbandonedTempAge = 600;
constexpr const char* kTempSuffix = ".tmp";
constexpr const char* kPickleSuffix = ".pkl";

using pyobj::attr;
using pyobj::import;

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int close() {
        int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool ends_with(const std::string& text, const char* suffix) {
    size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// A path (str, bytes or path-like) in the file system's encoding.
std::string fs_bytes(py::handle path) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path.ptr(), &encoded)) pyobj::throw_error();
    py::object owned = pyobj::steal(encoded);
    return std::string(PyBytes_AS_STRING(encoded), static_cast<size_t>(PyBytes_GET_SIZE(encoded)));
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void raise_os_error(int error, py::handle filename) {
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.ptr());
    pyobj::throw_error();
}

// The process id in a temporary name this module makes (<name>.pkl.<pid>.<n>.tmp), or -1.
pid_t writer_of(const std::string& name) {
    if (!ends_with(name, kTempSuffix)) return -1;
    std::string rest = name.substr(0, name.size() - std::strlen(kTempSuffix));
    size_t count_dot = rest.rfind('.');
    if (count_dot == std::string::npos || count_dot == 0 || count_dot + 1 == rest.size()) return -1;
    size_t pid_dot = rest.rfind('.', count_dot - 1);
    if (pid_dot == std::string::npos || pid_dot + 1 == count_dot) return -1;
    for (size_t i = pid_dot + 1; i < rest.size(); ++i) {
        if (i != count_dot && (rest[i] < '0' || rest[i] > '9')) return -1;
    }
    if (!ends_with(rest.substr(0, pid_dot), kPickleSuffix) || count_dot - pid_dot > 10) return -1;
    return static_cast<pid_t>(std::stol(rest.substr(pid_dot + 1, count_dot - pid_dot - 1)));
}

// Removes, once per process and folder, the temporary files of writers that are gone: their
// process no longer runs (SIGKILL, a power cut), or the file is older than any write. This
// process's own are left alone (another of its threads may be writing one), and only names this
// module makes are touched. Plain C: no Python code runs.
void sweep_once(const std::string& folder) {
    static auto* swept = new std::set<std::string>;  // under the GIL; kept for the process
    if (!swept->insert(folder).second) return;
    pyobj::without_gil([&] {
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
        std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(fd), ::closedir);
        if (!d) {
            ::close(fd);
            return;
        }
        pid_t me = ::getpid();
        time_t now = ::time(nullptr);
        while (struct dirent* e = ::readdir(d.get())) {
            pid_t writer = writer_of(e->d_name);
            if (writer <= 0 || writer == me) continue;
            struct stat st {};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            bool gone = ::kill(writer, 0) != 0 && errno == ESRCH;
            if (gone || now - st.st_mtime > kAbandonedTempAge) ::unlinkat(fd, e->d_name, 0);
        }
    });
}

// parso.cache._get_hashed_path(hashed_grammar, path, cache_path=cache_path), which also makes
// the folder, as parso's own functions call it.
py::object hashed_path(py::handle cache, py::handle hashed_grammar, py::handle path, py::handle cache_path) {
    static pyobj::KeywordNames keywords{"cache_path"};
    return pyobj::call_kw(attr(cache, PYOBJ_NAME("_get_hashed_path")), keywords, hashed_grammar, path, cache_path);
}

// --- the save --------------------------------------------------------------------------------

// Writes `data` under `temp` and renames it to `name`; 0, or the errno of the step that failed
// (the temporary file is then gone). A rename whose file or folder another process removed
// meanwhile saved nothing, and that is no failure: the tree is still in parso's memory.
int write_and_rename(const std::string& temp, const std::string& name, const char* data, size_t size) {
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0) return errno;
    int error = 0;
    while (size > 0 && !error) {
        ssize_t n = ::write(fd.get(), data, size);
        if (n < 0 && errno != EINTR) error = errno;
        if (n == 0) error = EIO;
        if (n > 0) data += n, size -= static_cast<size_t>(n);
    }
    if (fd.close() != 0 && !error) error = errno;  // NFS reports a failed write at close
    if (!error && ::rename(temp.c_str(), name.c_str()) != 0) error = errno == ENOENT ? -1 : errno;
    if (error) ::unlink(temp.c_str());
    return error < 0 ? 0 : error;
}

py::object save(py::handle hashed_grammar, py::handle path, py::handle item, py::handle cache_path) {
    static unsigned long written = 0;  // under the GIL
    py::object cache = import(PYOBJ_NAME("parso.cache"));
    py::object file = hashed_path(cache, hashed_grammar, path, cache_path);
    py::object pickle = import(PYOBJ_NAME("pickle"));
    // The whole pickle first: a failure there writes nothing.
    py::object data = pyobj::call(attr(pickle, PYOBJ_NAME("dumps")), item, attr(pickle, PYOBJ_NAME("HIGHEST_PROTOCOL")));
    if (!PyBytes_Check(data.ptr())) pyobj::raise(PyExc_TypeError, "pickle.dumps returned no bytes");
    std::string name = fs_bytes(file);
    sweep_once(folder_of(name));
    std::string temp = name + "." + std::to_string(::getpid()) + "." + std::to_string(++written) + kTempSuffix;
    const char* bytes = PyBytes_AS_STRING(data.ptr());
    size_t size = static_cast<size_t>(PyBytes_GET_SIZE(data.ptr()));
    // `data` is held by this frame, and bytes do not change: readable without the GIL.
    int error = pyobj::without_gil([&] { return write_and_rename(temp, name, bytes, size); });
    // As parso's open() would fail: PermissionError, which parso turns into a warning, and so on.
    if (error) raise_os_error(error, file);
    return py::none();
}

// --- the load --------------------------------------------------------------------------------

double mtime_of(const struct stat& st) {
    // As os.stat's st_mtime, to compare with parso's p_time (os.path.getmtime of the source).
    return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9;
}

// The whole of an open file, without the GIL; false when it cannot be read.
bool read_all(int fd, size_t size_hint, std::string& out) {
    return pyobj::without_gil([&] {
        out.clear();
        out.reserve(size_hint);
        char buffer[1 << 16];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n == 0) return true;
            if (n < 0 && errno != EINTR) return false;
            if (n > 0) out.append(buffer, static_cast<size_t>(n));
        }
    });
}

// The collector off while it lives, as parso loads a pickle (a tree is many objects); switched
// on again only if it was on, so a host's gc.disable() stays.
class CollectorOff {
public:
    CollectorOff() : gc_(import(PYOBJ_NAME("gc"))) {
        was_on_ = pyobj::truthy(pyobj::call(attr(gc_, PYOBJ_NAME("isenabled"))));
        if (was_on_) pyobj::call(attr(gc_, PYOBJ_NAME("disable")));
    }
    ~CollectorOff() {
        if (!was_on_) return;
        py::error_scope kept;  // the error in flight, if any, stays as it was
        py::object done = py::reinterpret_steal<py::object>(PyObject_CallMethodObjArgs(gc_.ptr(), PYOBJ_NAME("enable").get(), nullptr));
        if (!done) PyErr_Clear();  // gc.enable() does not fail; nothing to report if it did
    }
    CollectorOff(const CollectorOff&) = delete;
    CollectorOff& operator=(const CollectorOff&) = delete;

private:
    py::object gc_;
    bool was_on_ = false;
};

py::object unpickled(const std::string& data) {
    py::bytes bytes(data.data(), data.size());
    CollectorOff off;
    return pyobj::call(attr(import(PYOBJ_NAME("pickle")), PYOBJ_NAME("loads")), bytes);
}

// Removes `name` if it is still the file that failed to load (`st`, from its descriptor): one
// that another process has renamed into place since is whole, and stays.
void remove_bad_file(const std::string& name, const struct stat& st) {
    struct stat now {};
    if (::lstat(name.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) ::unlink(name.c_str());
}

py::object load(py::handle hashed_grammar, py::handle path, py::handle p_time, py::handle cache_path) {
    py::object cache = import(PYOBJ_NAME("parso.cache"));
    py::object file = hashed_path(cache, hashed_grammar, path, cache_path);
    std::string name = fs_bytes(file);
    sweep_once(folder_of(name));
    // Non-blocking, so that a FIFO in the folder cannot stall the request.
    Fd fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    // Missing, unreadable or no regular file: a miss, and the file is not ours to remove.
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return py::none();
    // parso's freshness rule: a pickle older than its source is outdated.
    if (pyobj::compare(p_time, py::float_(mtime_of(st)), Py_GT)) return py::none();
    std::string data;
    if (!read_all(fd.get(), static_cast<size_t>(st.st_size), data)) return py::none();
    fd.close();
    py::object item, node;
    bool loaded = pyobj::except_exception(
        [&] {
            item = unpickled(data);
            node = attr(item, PYOBJ_NAME("node"));
            return true;
        },
        [](py::error_already_set&) { return false; });  // truncated, or written by something else
    if (!loaded) {
        remove_bad_file(name, st);
        return py::none();
    }
    pyobj::call(attr(cache, PYOBJ_NAME("_set_cache_item")), hashed_grammar, path, item);
    pyobj::call_method(attr(cache, PYOBJ_NAME("LOG")), PYOBJ_NAME("debug"), PYOBJ_NAME("pickle loaded: %s").get(), path);
    return node;
}

// --- the substitution ------------------------------------------------------------------------

// parso's signatures: three arguments, then cache_path; `third` names the third.
constexpr char kItem[] = "item";
constexpr char kTime[] = "p_time";

template <py::object (*body)(py::handle, py::handle, py::handle, py::handle), const char* third_name>
PyObject* entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    static const char* keywords[] = {"hashed_grammar", "path", third_name, "cache_path", nullptr};
    PyObject *hashed_grammar = nullptr, *path = nullptr, *third = nullptr, *cache_path = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|O", const_cast<char**>(keywords), &hashed_grammar, &path,
                                     &third, &cache_path)) {
        return nullptr;
    }
    try {
        return body(hashed_grammar, path, third, cache_path).release().ptr();
    } catch (...) {
        pyobj::set_error_from_current_exception();
        return nullptr;
    }
}

template <py::object (*body)(py::handle, py::handle, py::handle, py::handle), const char* third_name>
PyCFunction entry_point() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<body, third_name>));
}

struct Replaced {
    pyobj::Name key;  // the attribute of parso.cache
    const char* name;
    PyMethodDef def;  // this module's function
    PyObject* ours;   // made once, kept for the process
    PyObject* parsos;  // the code object of parso's own function, kept once recognised
};

Replaced g_save{pyobj::Name("_save_to_file_system"), "_save_to_file_system",
                {"_save_to_file_system", entry_point<save, kItem>(), METH_VARARGS | METH_KEYWORDS,
                 "_save_to_file_system(hashed_grammar, path, item, cache_path=None)\n--\n\n"
                 "parso's pickle save, written under a temporary name and renamed into place (lsp_bridge)."},
                nullptr, nullptr};
Replaced g_load{pyobj::Name("_load_from_file_system"), "_load_from_file_system",
                {"_load_from_file_system", entry_point<load, kTime>(), METH_VARARGS | METH_KEYWORDS,
                 "_load_from_file_system(hashed_grammar, path, p_time, cache_path=None)\n--\n\n"
                 "parso's pickle load; a pickle that does not load is a miss, and removed (lsp_bridge)."},
                nullptr, nullptr};

// `current` is parso's own function: the code object parso.cache defined for this name. It is
// recognised once, by what it is (a function of parso/cache.py of that name, in the module's
// own globals), and from then on by that code object alone: a host's replacement, a wrapper
// or a reloaded module's new function is not it.
bool is_parsos_own(Replaced& r, py::handle module, py::handle current) {
    if (!PyFunction_Check(current.ptr())) return false;
    PyObject* code = PyFunction_GET_CODE(current.ptr());
    if (r.parsos) return code == r.parsos;
    auto* c = reinterpret_cast<PyCodeObject*>(code);
    if (PyFunction_GET_GLOBALS(current.ptr()) != PyModule_GetDict(module.ptr())) return false;
    if (PyUnicode_CompareWithASCIIString(c->co_name, r.name) != 0) return false;
    py::object filename = py::reinterpret_borrow<py::object>(c->co_filename);
    if (!PyUnicode_Check(filename.ptr()) || !ends_with(pyobj::utf8(filename), "/parso/cache.py")) return false;
    r.parsos = py::reinterpret_borrow<py::object>(code).release().ptr();
    return true;
}

void replace(Replaced& r, py::handle module) {
    PyObject* dict = PyModule_GetDict(module.ptr());  // borrowed
    py::object current = pyobj::dict_get(dict, r.key);
    if (!current || current.ptr() == r.ours) return;
    if (!is_parsos_own(r, module, current)) return;
    if (!r.ours) r.ours = pyobj::check(PyCFunction_NewEx(&r.def, nullptr, nullptr));
    pyobj::check(PyDict_SetItem(dict, r.key.get(), r.ours));
}

}  // namespace

void guard() {
    py::object module = import(PYOBJ_NAME("parso.cache"));
    if (!PyModule_Check(module.ptr())) return;
    replace(g_save, module);
    replace(g_load, module);
}

}  // namespace parso_pickles
}  // namespace runtime
