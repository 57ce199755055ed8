// Completion items of library names, remembered. What a request computes per item (jedi's type,
// the detail, the documentation) is kept for names defined at module level in files the user
// does not edit - the standard library and site-packages, jedi's bundled stubs, the host's stubs
// folder - keyed by the defining files, the position and the name, and valid while those files'
// size and modification time are unchanged. Kept on disk too (item_store.h).
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
