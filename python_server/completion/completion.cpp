// get_completions: what jedi offers at the cursor, as Monaco completion items.
#include "completion/completion_item.h"
#include "completion/cursor_line.h"
#include "completion/function_item.h"
#include "completion/item_cache.h"
#include "completion/methods.h"
#include "pyobj/log.h"
#include "workspace/request.h"
#include "workspace/request_budget.h"

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
    return !pyobj::global(PYOBJ_NAME("IMPORT_ALIAS_PATTERN")).attr(PYOBJ_NAME("match"))(before_cursor).is_none();
}

// The items, through the cache, which is made before jedi is asked.
py::list completion_items(const workspace::Request& r, py::handle path, py::handle script, bool show_underscores) {
    ItemCache cache(r.self, path, script);
    OneSignatureList one_list(r.self);
    py::list items;
    workspace::stoppable([&] {  // the cache stores only in finish(), after the section
        py::object completions = workspace::call_at_position(script, PYOBJ_NAME("complete"), r);
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
    bool show_underscores = false;
    workspace::JediRequest request(PYOBJ_NAME("[LSP] Error in get_completions: %s"));
    request.log_request = [&] { pyobj::debug(PYOBJ_NAME("[LSP] Request: get_completions %s"), request_info(r)); };
    request.answer_without_jedi = [&]() -> py::object {
        if (!in_import_alias(r)) return py::object();
        pyobj::debug(PYOBJ_NAME("[LSP] In import alias context, returning empty completions"));
        return result(py::list(), py::none());
    };
    // Underscore names are offered only while the typed word begins with "_".
    request.after_sync = [&] {
        py::object word_prefix = r.self.attr(PYOBJ_NAME("_get_word_prefix"))(r.code, r.line, r.column);
        show_underscores = starts_with_underscore(word_prefix);
    };
    request.ask = [&](py::handle path, py::handle script) -> py::object {
        return completion_items(r, path, script, show_underscores);
    };
    request.respond = [](py::object items) -> py::object {
        py::dict response = result(items, py::none());
        log_response(py::reinterpret_borrow<py::list>(items));
        return std::move(response);
    };
    request.failure = [](py::str error) -> py::object { return result(py::list(), std::move(error)); };
    return workspace::run_jedi_request(r, request);
}

}  // namespace completion
