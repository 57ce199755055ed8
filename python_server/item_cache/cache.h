// Completion items of library names, remembered. What a request computes per item (jedi's type,
// the detail, the documentation) is kept for names defined at module level in files the user
// does not edit - the standard library and site-packages, jedi's bundled stubs, the host's stubs
// folder - and for those files' class members reached through an instance when the item cannot
// depend on the instance (instance_members.h); keyed by the resolution context (interpreter,
// jedi, parso, this build, jedi's environment and search path), the defining module, the kind,
// the position and the name. Kept on disk too (store.h).
//
// The rule: a served item equals the item jedi makes for that completion in a request that met
// none of jedi's counted limits (deps.h and file_view.h say what "as it was" takes):
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
#include <optional>

#include "item_cache/item_values.h"

namespace item_cache {

// One request's use of the cache; made before jedi is asked for the completions.
class ItemCache {
public:
    // `script` is the request's jedi.Script, made before any item.
    ItemCache(py::handle self, py::handle script_path, py::handle script, const ItemMaker& maker);
    ~ItemCache();
    ItemCache(const ItemCache&) = delete;
    ItemCache& operator=(const ItemCache&) = delete;

    // completion_item(self, completion, show_underscores), served from the cache when it holds
    // the name and remembered when it may.
    py::object item(py::handle completion, bool show_underscores);

    // The answer of `x.` from the list kept for the one library value `x` infers to; nothing when
    // jedi must be asked (and then, after the dot just typed, the list is kept from its answer).
    std::optional<ServedList> served_members(py::handle line, py::handle column, bool show_underscores);

    // After the items of jedi's answer, still inside the request's question: what a kept list
    // needs of the names the answer hid, and which instance members may be kept.
    void complete_members();

    // After the last item: drops what a file changed under, writes the modules that gained
    // entries to the disk store.
    void finish();

    // The cache's own work met an exception where the answer's jedi state was still in use: jedi
    // memoizes a default for what raised, so the request must be answered on a fresh Script.
    bool answer_at_risk() const;
    // From here on the request goes as without the cache, and nothing of it is kept.
    void leave();

private:
    class Session;
    py::handle self_;
    const ItemMaker& maker_;
    std::unique_ptr<Session> session_;  // null: the cache is not used for this request
};


}  // namespace item_cache
