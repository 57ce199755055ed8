// Building the cache's keys, the context's text and the store's file names.
#include "item_cache/key.h"

#include <dlfcn.h>

#include <algorithm>

#include "item_cache/library_files.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache::key {

namespace {

using pyobj::attr;
using pyobj::import;
using pyobj::utf8;

bool is_str(py::handle value) { return PyUnicode_CheckExact(value.ptr()); }

}  // namespace

const std::string& build_identity() {
    static const std::string* identity = [] {
        Dl_info info{};
        std::string text = "unknown build";
        if (::dladdr(reinterpret_cast<void*>(&build_identity), &info) && info.dli_fname) {
            std::optional<FileState> state = file_state(info.dli_fname);
            if (state) {
                text = std::string(info.dli_fname) + ' ' + std::to_string(state->size) + ' ' +
                       std::to_string(state->mtime_ns) + ' ' + std::to_string(state->ino);
            }
        }
        return new std::string(text);
    }();
    return *identity;
}

std::optional<std::string> settings_text() {
    py::object settings = attr(import(PYOBJ_NAME("jedi")), PYOBJ_NAME("settings"));
    py::dict values = py::reinterpret_borrow<py::dict>(attr(settings, PYOBJ_NAME("__dict__")));
    std::vector<std::string> lines;
    auto plain = [](py::handle v) {
        return v.is_none() || PyBool_Check(v.ptr()) || PyLong_CheckExact(v.ptr()) || PyFloat_CheckExact(v.ptr()) || is_str(v);
    };
    for (auto item : values) {
        // Case folding is read when a list is served; every other setting may change an item or a list.
        if (!is_str(item.first) || utf8(item.first).rfind('_', 0) == 0 || utf8(item.first) == "case_insensitive_completion") {
            continue;
        }
        py::handle v = item.second;
        if (PyModule_Check(v.ptr()) || PyCallable_Check(v.ptr())) continue;
        bool ok = plain(v);
        if (!ok && (PyList_CheckExact(v.ptr()) || PyTuple_CheckExact(v.ptr()))) {
            ok = std::all_of(py::iter(v), py::iterator::sentinel(), [&](py::handle e) { return plain(e); });
        }
        if (!ok) return std::nullopt;
        lines.push_back(utf8(item.first) + "=" + utf8(pyobj::steal(PyObject_Repr(v.ptr()))));
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::string context(const ContextParts& parts, const std::vector<std::string>& search_path, const std::string& sync_folder) {
    py::list texts;
    for (const py::object& part : parts) texts.append(py::str(part));
    for (const std::string& entry : search_path) {
        bool synced = !sync_folder.empty() && is_under(entry, sync_folder);
        texts.append(py::str(synced ? "<sync>" + entry.substr(sync_folder.size()) : entry));
    }
    return utf8(pyobj::steal(PyUnicode_Join(py::str("\n").ptr(), texts.ptr())));
}

std::string record_key(const std::string& context, const std::string& module) { return context + '\n' + module; }

std::string member_list_id(const std::string& described) { return "members\n" + described; }

py::object entry_key(char kind, py::handle line, py::handle column, py::handle text) {
    return pyobj::steal(PyUnicode_FromFormat(kEntryKey, kind, line.ptr(), column.ptr(), text.ptr()));
}

py::dict header(const std::string& context, py::handle module) {
    py::dict fields;
    fields["format"] = py::int_(kFormat);
    fields["python"] = attr(import(PYOBJ_NAME("sys")), PYOBJ_NAME("version"));
    fields["jedi"] = attr(import(PYOBJ_NAME("jedi")), PYOBJ_NAME("__version__"));
    fields["module"] = module;
    fields["context"] = py::str(context);
    return fields;
}

std::string file_name(py::handle header) {
    static pyobj::KeywordNames sort_keys{"sort_keys"};
    py::object text = pyobj::call_kw(attr(import(PYOBJ_NAME("json")), PYOBJ_NAME("dumps")), sort_keys, header, Py_True);
    py::object encoded = pyobj::call_method(text, PYOBJ_NAME("encode"), PYOBJ_NAME("utf-8").get(),
                                            PYOBJ_NAME("surrogatepass").get());
    py::object digest = pyobj::call(attr(import(PYOBJ_NAME("hashlib")), PYOBJ_NAME("sha256")), encoded);
    std::string hex = utf8(pyobj::call_method(digest, PYOBJ_NAME("hexdigest")));
    return hex.substr(0, kFileNameDigits) + ".json";
}

}  // namespace item_cache::key
