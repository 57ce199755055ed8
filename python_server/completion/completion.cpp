// get_completions: what jedi offers at the cursor, as Monaco completion items.
#include <optional>

#include "completion/completion_item.h"
#include "completion/cursor_line.h"
#include "completion/function_item.h"
#include "completion/item_maker.h"
#include "completion/methods.h"
#include "pyobj/calls.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"
#include "workspace/request.h"

namespace completion {

namespace {

constexpr Py_ssize_t kPreviewLength = 100;
constexpr Py_ssize_t kSampleSize = 5;

// What the debug log shows of a request: the position, the path and the head of the code.
py::dict request_info(const workspace::Request& r) {
    Py_ssize_t length = py::len(r.code);
    py::dict info;
    pyobj::set_item(info, PYOBJ_NAME("line"), r.line);
    pyobj::set_item(info, PYOBJ_NAME("column"), r.column);
    pyobj::set_item(info, PYOBJ_NAME("path"), r.path);
    pyobj::set_item(info, PYOBJ_NAME("code_length"), py::int_(length));
    pyobj::set_item(info, PYOBJ_NAME("code_preview"),
                    length <= kPreviewLength ? py::reinterpret_borrow<py::object>(r.code)
                                             : r.code[py::slice(0, kPreviewLength, 1)]);
    return info;
}

py::dict result(py::handle completions, py::handle error) {
    return workspace::answer(PYOBJ_NAME("completions"), completions, error);
}

// While the user types the alias of an `import ... as` clause there is nothing to offer.
bool in_import_alias(const workspace::Request& r) {
    Span span{};
    if (!text_before_cursor(r.code, r.line, r.column, span)) return false;
    py::object before_cursor = pyobj::steal(PyUnicode_Substring(r.code.ptr(), span.begin, span.end));
    return !pyobj::global(PYOBJ_NAME("IMPORT_ALIAS_PATTERN")).attr(PYOBJ_NAME("match"))(before_cursor).is_none();
}

// jedi's completions as items, through the request's cache.
py::list completion_items(const workspace::Request& r, item_cache::ItemCache& cache, py::handle script, bool show_underscores) {
    OneSignatureList one_list(r.self);
    py::list items;
    py::object completions = workspace::call_at_position(script, PYOBJ_NAME("complete"), r);
    pyobj::debug(PYOBJ_NAME("[LSP] Jedi returned %d completions"), py::int_(py::len(completions)));
    for (py::handle completion : completions) {
        py::object item = cache.item(completion, show_underscores);
        if (item) items.append(item);
    }
    cache.complete_members();
    return items;
}

void log_response(const py::list& items) {
    Py_ssize_t count = py::len(items);
    pyobj::debug(PYOBJ_NAME("[LSP] Response: %d completions returned"), py::int_(count));
    if (count == 0) return;
    py::list labels;
    for (Py_ssize_t i = 0; i < count && i < kSampleSize; ++i) {
        labels.append(pyobj::steal(PyObject_GetItem(PyList_GET_ITEM(items.ptr(), i), PYOBJ_NAME("label").get())));
    }
    pyobj::debug(PYOBJ_NAME("[LSP] Sample completions: %s%s"), labels, py::str(count > kSampleSize ? "..." : ""));
}

}  // namespace

py::object get_completions(const workspace::Request& r) {
    bool show_underscores = false;
    std::optional<item_cache::ItemCache> cache;  // stores only in finish(), outside the stoppable section
    workspace::Steps steps(PYOBJ_NAME("[LSP] Error in get_completions: %s"));
    steps.uses_jedi = true;
    steps.log_request = [&] { pyobj::debug(PYOBJ_NAME("[LSP] Request: get_completions %s"), request_info(r)); };
    steps.early_answer = [&]() -> py::object {
        if (!in_import_alias(r)) return py::object();
        pyobj::debug(PYOBJ_NAME("[LSP] In import alias context, returning empty completions"));
        return result(py::list(), py::none());
    };
    // Underscore names are offered only while the typed word begins with "_".
    steps.after_sync = [&] {
        py::object word_prefix = pyobj::call_method(r.self, PYOBJ_NAME("_get_word_prefix"), r.code, r.line, r.column);
        show_underscores = starts_with_underscore(word_prefix);
    };
    steps.ask = [&](const workspace::Jedi& jedi) -> py::object {
        cache.emplace(r.self, jedi.path, jedi.script, item_maker());
        if (std::optional<item_cache::ServedList> served = cache->served_members(r.line, r.column, show_underscores)) {
            pyobj::debug(PYOBJ_NAME("[LSP] Jedi returned %d completions"), py::int_(served->matched));
            return std::move(served->items);
        }
        if (!cache->answer_at_risk()) {
            py::list items = completion_items(r, *cache, jedi.script, show_underscores);
            if (!cache->answer_at_risk()) return std::move(items);
        }
        // The cache's own work met an exception inside jedi, whose memo now answers that question
        // with its empty default: the request is asked again as if the cache were not there, so
        // jedi's own failure, if it is one, is the request's error and never an empty answer.
        cache->leave();
        return completion_items(r, *cache, jedi.fresh_script(), show_underscores);
    };
    steps.respond = [&](py::object items) -> py::object {
        cache->finish();
        py::dict response = result(items, py::none());
        log_response(py::reinterpret_borrow<py::list>(items));
        return std::move(response);
    };
    steps.failure = [](py::str error) -> py::object { return result(py::list(), error); };
    return workspace::serve(r, steps);
}

}  // namespace completion
