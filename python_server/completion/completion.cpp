// get_completions: what jedi offers at the cursor, as Monaco completion items.
#include "completion/completion_item.h"
#include "completion/cursor_line.h"
#include "completion/item_cache.h"
#include "completion/methods.h"
#include "pyobj/log.h"
#include "workspace/jedi_lock.h"
#include "workspace/request.h"

namespace completion {

namespace {

constexpr Py_ssize_t kPreviewLength = 100;
constexpr Py_ssize_t kSampleSize = 5;

// What the debug log shows of a request: the position, the path and the head of the code.
py::dict request_info(const workspace::Request& r) {
    Py_ssize_t length = py::len(r.code);
    py::dict info;
    info["line"] = r.line;
    info["column"] = r.column;
    info["path"] = r.path;
    info["code_length"] = py::int_(length);
    info["code_preview"] = length <= kPreviewLength ? py::reinterpret_borrow<py::object>(r.code)
                                                     : r.code[py::slice(0, kPreviewLength, 1)];
    return info;
}

py::dict result(py::object completions, py::object error) {
    py::dict answer;
    answer["completions"] = std::move(completions);
    answer["error"] = std::move(error);
    return answer;
}

// While the user types the alias of an `import ... as` clause there is nothing to offer.
bool in_import_alias(const workspace::Request& r) {
    Span span{};
    if (!text_before_cursor(r.code, r.line, r.column, span)) return false;
    py::object before_cursor = pyobj::steal(PyUnicode_Substring(r.code.ptr(), span.begin, span.end));
    return !pyobj::global("IMPORT_ALIAS_PATTERN").attr("match")(before_cursor).is_none();
}

py::list completion_items(const workspace::Request& r) {
    workspace::RequestLock lock;  // also keeps a running warm-up from reading a half-synced file
    workspace::sync_if_needed(r);
    py::object word_prefix = r.self.attr("_get_word_prefix")(r.code, r.line, r.column);
    bool show_underscores = starts_with_underscore(word_prefix);
    py::object path = workspace::script_path(r);
    py::object script = workspace::stoppable([&] { return workspace::new_script(r, path); });
    ItemCache cache(r.self, path, script);
    static pyobj::Name complete("complete");
    py::list items;
    workspace::stoppable([&] {  // the cache stores only in finish(), after the section
        py::object completions = workspace::call_at_position(script, complete, r);
        pyobj::debug(PYOBJ_NAME("[LSP] Jedi returned %d completions"), py::int_(py::len(completions)));
        for (py::handle completion : completions) {
            py::object item = cache.item(completion, show_underscores);
            if (item) items.append(item);
        }
    });
    cache.finish();
    return items;
}

void log_response(const py::list& items) {
    Py_ssize_t count = py::len(items);
    pyobj::debug(PYOBJ_NAME("[LSP] Response: %d completions returned"), py::int_(count));
    if (count == 0) return;
    py::list labels;
    for (Py_ssize_t i = 0; i < count && i < kSampleSize; ++i) labels.append(items[i]["label"]);
    pyobj::debug(PYOBJ_NAME("[LSP] Sample completions: %s%s"), labels, py::str(count > kSampleSize ? "..." : ""));
}

}  // namespace

py::object get_completions(const workspace::Request& r) {
    pyobj::debug(PYOBJ_NAME("[LSP] Request: get_completions %s"), request_info(r));
    return workspace::answer(
        PYOBJ_NAME("[LSP] Error in get_completions: %s"),
        [&]() -> py::object {
            workspace::validate(r);
            if (in_import_alias(r)) {
                pyobj::debug(PYOBJ_NAME("[LSP] In import alias context, returning empty completions"));
                return result(py::list(), py::none());
            }
            py::list items = completion_items(r);
            py::dict response = result(items, py::none());
            log_response(items);
            return response;
        },
        [](py::str error) { return result(py::list(), std::move(error)); });
}

}  // namespace completion
