// What the item cache reads of jedi beyond its public API, in one place: how a request's
// jedi.Script resolves names (its environment and search path) and which modules it loaded or
// tried to load. Anything here that is not as expected turns the cache off for the request; it
// never changes an answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pyobj/errors.h"

namespace item_cache {

// One module name the request's jedi state looked up, stub and implementation alike.
struct LoadedModule {
    std::string top;                 // the first part of the dotted name
    std::vector<std::string> files;  // its file, or a namespace package's folders; none when compiled or not found
    // A package's other folders, as jedi searches them: a pkgutil- or pkg_resources-style
    // package (`extend_path(__path__, ...)`) spans its name's folder in every search path entry.
    std::vector<std::string> portions;
    py::object tree;                 // the parsed module of a file, else a null object
    py::object code_lines;           // the text jedi's parser holds for the file, as lines
};

// Whether `code_lines` is the text of the file at `path` now, decoded as jedi decodes it. jedi's
// parser keeps a file's text by path and modification time, so it can answer from a text the file
// no longer holds (a file replaced by one with its old modification time).
bool is_text_on_disk(const std::string& path, py::handle code_lines);

class JediState {
public:
    // The state of a real jedi.Script while jedi is its own; nothing otherwise. `sync_folder`
    // (the bridge's private folder, another for every bridge) stands in the context by a fixed
    // name: what it holds is checked by its names, not by where it is.
    static std::optional<JediState> of(py::handle script, const std::string& sync_folder);

    // Everything besides files that decides what a name resolves to and how an item is made:
    // this interpreter, jedi and parso, this module's build, jedi's environment (the interpreter
    // it inspects), and the search path in its order.
    const std::string& context() const { return context_; }
    const std::vector<std::string>& search_path() const { return search_path_; }
    const std::string& project_path() const { return project_path_; }

    // The modules looked up so far; read after the last item, it holds what every item read.
    std::vector<LoadedModule> loaded() const;

    // Whether this request's jedi work may have met one of jedi's counted limits: an execution
    // refused for its function's per_function_execution_limit, total_function_execution_limit
    // executions, or a node inferred more than 300 times (`_limit_value_infers`). Past one of
    // them jedi's answers depend on what the request computed first. A refusal for the function
    // is told from the counters (jedi counts the execution in total, not for the function; it
    // lets typing's functions run past the limit); the total counts once reached, although jedi
    // refuses only the next one.
    bool limit_reached() const;

    // A moment no later than the start of the process that imports modules and lists folders
    // for this request's jedi state (jedi's helper subprocess, or this process when jedi works
    // in it); nothing when no helper has started yet. Past that moment the helper may answer
    // from an earlier state of a file or folder than the one on disk.
    std::optional<int64_t> helper_started_ns() const;

private:
    py::object state_;
    std::string context_, project_path_;
    std::vector<std::string> search_path_;
};

// The lines parso's in-memory cache hands out for a file, read once per request: parso keeps a
// tree by path, made from a file or from an editor's unsaved text passed with that path, and
// serves it for the path until the file's modification time moves past the tree's.
class ParsedTexts {
public:
    // The lines of every tree parso would serve for `path` while its modification time is `mtime_ns`.
    std::vector<py::object> lines_for(const std::string& path, int64_t mtime_ns);

private:
    std::optional<std::vector<std::pair<std::string, py::object>>> items_;  // path -> parso's cache item
};

// Whether a parsed module changes its own search path (`sys.path.insert(...)`, `.append`, an
// assignment), which jedi follows for the imports in it.
bool changes_search_path(py::handle tree);

// The first names of the absolute imports anywhere in a parsed module (what its code may import,
// whether or not jedi followed it).
std::vector<std::string> imported_names(py::handle tree);

// Module names jedi imports by itself, whatever the code imports.
const std::vector<std::string>& names_jedi_imports();

}  // namespace item_cache
