// Completion items of library names, remembered. What a request computes per item (jedi's type,
// the detail, the documentation) is kept for names defined at module level in files the user
// does not edit - the standard library and site-packages, jedi's bundled stubs, the host's stubs
// folder - keyed by the resolution context (interpreter, jedi, parso, this build, jedi's
// environment and search path), the defining module, the position and the name. Kept on disk
// too (item_store.h).
//
// The rule: a served item equals the item jedi makes for that completion in a request that met
// none of jedi's counted limits (item_deps.h says what "the same world" takes):
// - it is kept only when computed before the request met one (a function executed as often as
//   jedi allows one, the executions in total, a node inferred 300 times: JediState::limit_reached),
//   since past a limit jedi's answer for an item depends on which items the request made first;
//   so a request that meets a limit may show, for a served item, the answer it would have given
//   had it met none;
// - it is served only while everything it was read from is as it was (files, folders, names,
//   parso's kept texts, jedi's helper process, jedi's own code and plugins).
//
// Only real jedi completions are served from it, and only while the bridge is the module's own
// LSPBridge with its own _format_signature: a fake script, a subclass or a patched instance sees
// every call it sees without the cache.
#pragma once

#include <memory>

#include "pyobj/errors.h"

namespace completion {

// One request's use of the cache; made before jedi is asked for the completions.
class ItemCache {
public:
    // `script` is the request's jedi.Script, made before any item.
    ItemCache(py::handle self, py::handle script_path, py::handle script);
    ~ItemCache();
    ItemCache(const ItemCache&) = delete;
    ItemCache& operator=(const ItemCache&) = delete;

    // completion_item(self, completion, show_underscores), served from the cache when it holds
    // the name and remembered when it may.
    py::object item(py::handle completion, bool show_underscores);

    // After the last item: drops what a file changed under, writes the modules that gained
    // entries to the disk store.
    void finish();

private:
    class Session;
    py::handle self_;
    std::unique_ptr<Session> session_;  // null: the cache is not used for this request
};


}  // namespace completion
