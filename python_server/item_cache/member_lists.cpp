// Finding a member completion's site, describing its value, and serving a kept list as jedi filters.
#include "item_cache/member_lists.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "item_cache/key.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/names.h"
#include "pyobj/ops.h"

namespace item_cache::members {

namespace {

using pyobj::attr;
using pyobj::call_method;
using pyobj::import;
using pyobj::Name;
using pyobj::utf8;

// Generic arguments nest; past this depth a value is not described, so not kept.
constexpr int kMaxDepth = 8;
// Values that describe otherwise, at most, in a union whose list is kept (each is described on
// every request there).
constexpr size_t kMaxUnion = 8;

bool is_type(py::handle value, Name& module, Name& name) {
    return reinterpret_cast<PyObject*>(Py_TYPE(value.ptr())) == attr(import(module), name).ptr();
}

// Whether the value is of one of jedi's classes, each named by its module and name.
using Kinds = std::initializer_list<std::pair<Name*, Name*>>;
bool is_one_of(py::handle value, Kinds kinds) {
    for (auto [module, name] : kinds) {
        if (is_type(value, *module, *name)) return true;
    }
    return false;
}

bool is_str(py::handle value) { return PyUnicode_CheckExact(value.ptr()); }

py::object position(long line, long column) { return py::make_tuple(line, column); }

// "a.b.c" of a tuple of str.
std::string dotted(py::handle names) {
    if (!PyTuple_CheckExact(names.ptr())) pyobj::raise(PyExc_TypeError, "names");
    std::string text;
    for (py::handle part : names) {
        if (!is_str(part)) pyobj::raise(PyExc_TypeError, "names");
        text += (text.empty() ? "" : ".") + utf8(part);
    }
    return text;
}

std::string type_text(py::handle value) {
    py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(value.ptr()));
    return utf8(attr(type, PYOBJ_NAME("__module__"))) + "." + utf8(attr(type, PYOBJ_NAME("__qualname__")));
}

std::string flag(py::handle value) { return pyobj::truthy(value) ? "1" : "0"; }

// What a value's members depend on, as text: its kind and jedi's class of it, the file and
// qualified name that define it, stub or not, and the arguments of a generic class. Nothing for
// anything else (literals, compiled values, functions, values defined outside library files).
class Describer {
public:
    explicit Describer(const LibraryFiles& library) : library_(library) {}

    std::optional<std::string> value(py::handle v, int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        Name& modules = PYOBJ_NAME("jedi.inference.value.module");
        if (is_type(v, modules, PYOBJ_NAME("ModuleValue")) ||
            is_type(v, PYOBJ_NAME("jedi.inference.gradual.stub_value"), PYOBJ_NAME("StubModuleValue"))) {
            std::optional<std::string> file = library_file(call_method(v, PYOBJ_NAME("py__file__")));
            if (!file) return std::nullopt;
            return "module " + type_text(v) + " " + *file + " " + dotted(attr(v, PYOBJ_NAME("string_names"))) + " " +
                   flag(call_method(v, PYOBJ_NAME("is_stub")));
        }
        if (is_type(v, PYOBJ_NAME("jedi.inference.value.instance"), PYOBJ_NAME("TreeInstance"))) {
            std::optional<std::string> of = a_class(attr(v, PYOBJ_NAME("class_value")), depth + 1);
            std::optional<std::string> as =
                of ? a_class(call_method(v, PYOBJ_NAME("get_annotated_class_object")), depth + 1) : std::nullopt;
            if (!as) return std::nullopt;
            if (!pyobj::truthy(call_method(v, PYOBJ_NAME("is_stub"))) && may_proxy(v)) return std::nullopt;
            return "instance " + type_text(v) + " of " + *of + " as " + *as;
        }
        // A bound method: jedi lists a function's members as those of an instance of its class,
        // types.MethodType's, whatever the function. A stub's would add its python values' names.
        if (is_type(v, PYOBJ_NAME("jedi.inference.value.instance"), PYOBJ_NAME("BoundMethod"))) {
            if (pyobj::truthy(call_method(v, PYOBJ_NAME("is_stub")))) return std::nullopt;
            py::object instances = call_method(call_method(v, PYOBJ_NAME("py__class__")), PYOBJ_NAME("execute_with_values"));
            if (py::len(instances) != 1) return std::nullopt;
            std::optional<std::string> of = value(*py::iter(instances), depth + 1);
            if (!of) return std::nullopt;
            return "bound " + type_text(v) + " " + *of;
        }
        // An instance of a generic class made from an annotation: jedi's names and items are its
        // instance's.
        if (is_type(v, PYOBJ_NAME("jedi.inference.gradual.base"), PYOBJ_NAME("_GenericInstanceWrapper"))) {
            std::optional<std::string> inner = value(attr(v, PYOBJ_NAME("_wrapped_value")), depth + 1);
            if (!inner) return std::nullopt;
            return "wrapped " + type_text(v) + " " + *inner;
        }
        return a_class(v, depth);
    }

private:
    // Whether jedi may follow `return getattr(obj, name)` in the instance's __getattr__ (or else
    // __getattribute__) for more names: unless the one it finds is a stub's function (object's,
    // mostly) that returns nothing.
    static bool may_proxy(py::handle instance) {
        for (Name* slot : {&PYOBJ_NAME("__getattr__"), &PYOBJ_NAME("__getattribute__")}) {
            py::object names = call_method(instance, PYOBJ_NAME("get_function_slot_names"), slot->get());
            if (!pyobj::truthy(names)) continue;
            for (py::handle name : names) {
                py::object root = call_method(attr(name, PYOBJ_NAME("parent_context")), PYOBJ_NAME("get_root_context"));
                py::object tree_name = attr(name, PYOBJ_NAME("tree_name"));
                if (!pyobj::truthy(call_method(root, PYOBJ_NAME("is_stub"))) || tree_name.is_none()) return true;
                py::object definition = call_method(tree_name, PYOBJ_NAME("get_definition"));
                if (definition.is_none() || !pyobj::equals(attr(definition, PYOBJ_NAME("type")), PYOBJ_NAME("funcdef")) ||
                    pyobj::truthy(py::list(call_method(definition, PYOBJ_NAME("iter_return_stmts"))))) {
                    return true;
                }
            }
            return false;
        }
        return false;
    }

    std::optional<std::string> a_class(py::handle v, int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        if (is_type(v, PYOBJ_NAME("jedi.inference.value.klass"), PYOBJ_NAME("ClassValue"))) {
            py::object root = call_method(v, PYOBJ_NAME("get_root_context"));
            std::optional<std::string> file = library_file(call_method(root, PYOBJ_NAME("py__file__")));
            py::object names = call_method(v, PYOBJ_NAME("get_qualified_names"));
            if (!file || names.is_none()) return std::nullopt;
            // A stub may define a name in several branches: the definition's place tells them apart.
            py::object at = attr(attr(v, PYOBJ_NAME("tree_node")), PYOBJ_NAME("start_pos"));
            return "class " + type_text(v) + " " + *file + " " + dotted(attr(root, PYOBJ_NAME("string_names"))) + ":" +
                   dotted(names) + "@" + utf8(py::str(at)) + " " + flag(call_method(root, PYOBJ_NAME("is_stub")));
        }
        if (is_type(v, PYOBJ_NAME("jedi.inference.gradual.base"), PYOBJ_NAME("GenericClass"))) {
            std::optional<std::string> inner = a_class(attr(v, PYOBJ_NAME("_class_value")), depth + 1);
            if (!inner) return std::nullopt;
            std::string text = "generic " + type_text(v) + " " + *inner + " [";
            for (py::handle values : call_method(v, PYOBJ_NAME("get_generics"))) {
                std::vector<std::string> parts;
                for (py::handle each : values) {
                    std::optional<std::string> part = argument(each, depth + 1);
                    if (!part) return std::nullopt;
                    parts.push_back(std::move(*part));
                }
                std::sort(parts.begin(), parts.end());
                text += "{";
                for (const std::string& part : parts) text += part + ";";
                text += "}";
            }
            return text + "]";
        }
        return std::nullopt;
    }

    // A generic argument: also `Any` or a type variable left open, told by where the library
    // defines it.
    std::optional<std::string> argument(py::handle v, int depth) {
        if (!is_one_of(v, {{&PYOBJ_NAME("jedi.inference.gradual.typing"), &PYOBJ_NAME("AnyClass")},
                           {&PYOBJ_NAME("jedi.inference.gradual.type_var"), &PYOBJ_NAME("TypeVar")}})) {
            return value(v, depth);
        }
        py::object root = call_method(v, PYOBJ_NAME("get_root_context"));
        std::optional<std::string> file = library_file(call_method(root, PYOBJ_NAME("py__file__")));
        py::object tree_name = attr(attr(v, PYOBJ_NAME("name")), PYOBJ_NAME("tree_name"));
        if (!file || tree_name.is_none()) return std::nullopt;
        return "typing " + type_text(v) + " " + *file + ":" + utf8(attr(tree_name, PYOBJ_NAME("value"))) + "@" +
               utf8(py::str(attr(tree_name, PYOBJ_NAME("start_pos"))));
    }

    std::optional<std::string> library_file(py::handle file) const {
        if (file.is_none()) return std::nullopt;
        std::string path = normalised_path(pyobj::steal(PyOS_FSPath(file.ptr())));
        if (path.empty() || library_.is_users_text(path) || !library_.is_library_file(path)) return std::nullopt;
        return path;
    }

    const LibraryFiles& library_;
};

// A list, tuple, set or dict display or comprehension, or the tuple and dict jedi makes of
// `*args` and `**kwargs`: its kind and jedi's class of it, read without touching what jedi works
// out lazily (its item type), which no member's item depends on: jedi's items of a builtin
// class's members come from the class's text, and signatures print the type variables.
std::optional<std::string> literal_of(py::handle v) {
    Name* iterable = &PYOBJ_NAME("jedi.inference.value.iterable");
    if (!is_one_of(v, {{iterable, &PYOBJ_NAME("SequenceLiteralValue")}, {iterable, &PYOBJ_NAME("DictLiteralValue")},
                       {iterable, &PYOBJ_NAME("ListComprehension")}, {iterable, &PYOBJ_NAME("SetComprehension")},
                       {iterable, &PYOBJ_NAME("DictComprehension")}, {iterable, &PYOBJ_NAME("FakeTuple")},
                       {iterable, &PYOBJ_NAME("FakeList")}, {iterable, &PYOBJ_NAME("FakeDict")}})) {
        return std::nullopt;
    }
    py::object kind;
    if (!pyobj::get_attr_if_present(v, PYOBJ_NAME("array_type"), kind) || !is_str(kind)) return std::nullopt;
    return "literal " + type_text(v) + " " + utf8(kind);
}

// The length of a line without its line break, as jedi's validate_line_column counts it.
Py_ssize_t line_length(py::handle line) {
    if (!is_str(line)) pyobj::raise(PyExc_TypeError, "line");
    Py_ssize_t n = PyUnicode_GET_LENGTH(line.ptr());
    if (n >= 2 && PyUnicode_READ_CHAR(line.ptr(), n - 2) == '\r' && PyUnicode_READ_CHAR(line.ptr(), n - 1) == '\n') return n - 2;
    if (n >= 1 && PyUnicode_READ_CHAR(line.ptr(), n - 1) == '\n') return n - 1;
    return n;
}

// Whether jedi's parser stack at the name's start is the trailer case of _complete_python and
// offers no keyword.
bool is_trailer_after_dot(py::handle stack) {
    py::object tokens = attr(import(PYOBJ_NAME("parso.python.token")), PYOBJ_NAME("PythonTokenTypes"));
    py::object name_token = attr(tokens, PYOBJ_NAME("NAME")), indent_token = attr(tokens, PYOBJ_NAME("INDENT"));
    bool names = false;
    for (py::handle t : call_method(stack, PYOBJ_NAME("_allowed_transition_names_and_token_types"))) {
        if (t.ptr() == name_token.ptr() || t.ptr() == indent_token.ptr()) names = true;
        // A keyword there would join the answer (and `if` changes the leaf jedi looks at).
        if (is_str(t) && pyobj::truthy(call_method(t, PYOBJ_NAME("isalpha")))) return false;
    }
    if (!names) return false;
    py::list nonterminals;
    for (py::handle node : stack) nonterminals.append(attr(node, PYOBJ_NAME("nonterminal")));
    py::object nodes = pyobj::call(attr(import(PYOBJ_NAME("jedi.api.completion")), PYOBJ_NAME("_gather_nodes")), stack);
    if (py::len(nodes) == 0 || py::len(nonterminals) == 0) return false;
    py::object last = nodes[py::int_(-1)];
    if (pyobj::contains(py::make_tuple("as", "def", "class"), last)) return false;
    if (pyobj::contains(nonterminals, PYOBJ_NAME("import_stmt"))) return false;
    return pyobj::contains(py::make_tuple("trailer", "dotted_name"), nonterminals[py::int_(-1)]) &&
           pyobj::equals(last, py::str("."));
}

// Whether a value is of a kind description_of may describe.
bool describable_kind(py::handle v) {
    Name* instance = &PYOBJ_NAME("jedi.inference.value.instance");
    Name* gradual = &PYOBJ_NAME("jedi.inference.gradual.base");
    return is_one_of(v, {{instance, &PYOBJ_NAME("TreeInstance")}, {instance, &PYOBJ_NAME("BoundMethod")},
                         {gradual, &PYOBJ_NAME("_GenericInstanceWrapper")}, {gradual, &PYOBJ_NAME("GenericClass")},
                         {&PYOBJ_NAME("jedi.inference.value.klass"), &PYOBJ_NAME("ClassValue")},
                         {&PYOBJ_NAME("jedi.inference.compiled"), &PYOBJ_NAME("ExactValue")}}) ||
           literal_of(v).has_value();
}

// What a value's list is kept under, or nothing when it is not kept.
std::optional<std::string> description_of(py::handle value, const LibraryFiles& library) {
    // A literal's members are its builtin class's, whatever it holds; asked for anything else,
    // jedi works out its item type first (the code that adds to it, the callers of a function).
    if (std::optional<std::string> literal = literal_of(value)) return literal;
    // A str, bytes or number literal is jedi's ExactValue: its members are those of the instance
    // of its builtin class that it wraps, made without arguments whatever the literal holds, so
    // it shares that instance's list.
    if (is_type(value, PYOBJ_NAME("jedi.inference.compiled"), PYOBJ_NAME("ExactValue"))) {
        return Describer(library).value(attr(value, PYOBJ_NAME("_wrapped_value")), 0);
    }
    return Describer(library).value(value, 0);
}

}  // namespace

std::optional<Site> site_of(py::handle script, py::handle line, py::handle column, const LibraryFiles& library) {
    if (!PyLong_CheckExact(line.ptr()) || !PyLong_CheckExact(column.ptr())) return std::nullopt;
    py::object code_lines = attr(script, PYOBJ_NAME("_code_lines"));
    if (!PyList_CheckExact(code_lines.ptr())) return std::nullopt;
    long l = pyobj::check_value(PyLong_AsLong(line.ptr()), -1L), c = pyobj::check_value(PyLong_AsLong(column.ptr()), -1L);
    // Where jedi refuses the position, its refusal is the answer.
    if (l < 1 || l > PyList_GET_SIZE(code_lines.ptr()) || c < 0 || c > line_length(PyList_GET_ITEM(code_lines.ptr(), l - 1))) {
        return std::nullopt;
    }
    py::object helpers = import(PYOBJ_NAME("jedi.api.helpers"));
    py::object completion = import(PYOBJ_NAME("jedi.api.completion"));
    py::object module_context = call_method(script, PYOBJ_NAME("_get_module_context"));
    py::object module_node = attr(module_context, PYOBJ_NAME("tree_node"));
    py::object at = position(l, c);
    Site site;
    site.like_name = pyobj::call(attr(helpers, PYOBJ_NAME("get_on_completion_name")), module_node, code_lines, at);
    if (!is_str(site.like_name)) return std::nullopt;
    // The token before the typed name ends its line's text there: not a dot, no member list (and
    // no parse of the statement for every other completion). At the line's start, jedi decides.
    py::handle text = PyList_GET_ITEM(code_lines.ptr(), l - 1);
    Py_ssize_t before = c - PyUnicode_GET_LENGTH(site.like_name.ptr());
    while (before > 0 && Py_UNICODE_ISSPACE(PyUnicode_READ_CHAR(text.ptr(), before - 1))) --before;
    if (before > 0 && PyUnicode_READ_CHAR(text.ptr(), before - 1) != '.') return std::nullopt;
    static pyobj::KeywordNames with_prefixes{"include_prefixes"};
    py::object get_leaf = attr(module_node, PYOBJ_NAME("get_leaf_for_position"));
    py::object leaf = pyobj::call_kw(get_leaf, with_prefixes, at, Py_True);
    // In a string jedi completes file names or dict keys; after a bracket, dict keys.
    py::object in_string = pyobj::call(attr(completion, PYOBJ_NAME("_extract_string_while_in_string")), leaf, at);
    if (!PyTuple_CheckExact(in_string.ptr()) || py::len(in_string) != 3 || !in_string[py::int_(0)].is_none()) {
        return std::nullopt;
    }
    py::object bracket = pyobj::equals(leaf, py::str("[")) ? leaf : call_method(leaf, PYOBJ_NAME("get_previous_leaf"));
    if (pyobj::equals(bracket, py::str("["))) return std::nullopt;
    py::object name_start = position(l, c - static_cast<long>(PyUnicode_GET_LENGTH(site.like_name.ptr())));
    py::object grammar = attr(attr(script, PYOBJ_NAME("_inference_state")), PYOBJ_NAME("grammar"));
    py::object stack = pyobj::except(
        attr(helpers, PYOBJ_NAME("OnErrorLeaf")).ptr(),
        [&] { return pyobj::call(attr(helpers, PYOBJ_NAME("get_stack_at_position")), grammar, code_lines, leaf, name_start); },
        [](py::error_already_set&) { return py::object(); });
    if (!stack || !is_trailer_after_dot(stack)) return std::nullopt;
    py::object dot = pyobj::call(get_leaf, name_start);
    if (pyobj::equals(attr(dot, PYOBJ_NAME("type")), PYOBJ_NAME("endmarker"))) dot = call_method(leaf, PYOBJ_NAME("get_previous_leaf"));
    py::object previous = call_method(dot, PYOBJ_NAME("get_previous_leaf"));
    // _complete_trailer's inference, which jedi memoizes for its own answer.
    py::object context = call_method(module_context, PYOBJ_NAME("create_context"), previous);
    py::object infer = attr(import(PYOBJ_NAME("jedi.inference.helpers")), PYOBJ_NAME("infer_call_of_leaf"));
    py::object values = pyobj::call(infer, context, previous);
    // Several values: jedi lists each one's names in the set's order and keeps a name's first.
    // Values that describe alike have the same names with the same items, so they answer as one.
    // Where values that describe otherwise share a name (object's, mostly), whose item jedi shows
    // follows the set's order, which follows where the values lie in memory: jedi's own answer
    // varies from request to request, and a kept list is its answer under one of those orders.
    // A module among several could be a `cached_name` one, whose items jedi makes otherwise alone.
    Py_ssize_t count = py::len(values);
    if (count == 0) return std::nullopt;
    if (count > 1) {
        // Told apart cheaply first, since a description may infer what jedi's own answer would not.
        for (py::handle value : values) {
            if (!describable_kind(value) || pyobj::truthy(call_method(value, PYOBJ_NAME("is_module")))) return std::nullopt;
        }
    }
    std::vector<std::string> described;
    for (py::handle value : values) {
        std::optional<std::string> one = description_of(value, library);
        if (!one) return std::nullopt;
        if (std::find(described.begin(), described.end(), *one) == described.end()) described.push_back(std::move(*one));
    }
    if (described.size() > kMaxUnion) return std::nullopt;
    if (described.size() == 1) {
        site.value = std::move(described[0]);
        return site;
    }
    std::sort(described.begin(), described.end());
    site.value = "union";
    for (const std::string& one : described) site.value += "\n" + one;
    return site;
}

namespace {

struct Snapshot {
    std::vector<std::pair<py::object, py::dict>> dicts;  // a dict and its items at the first look
    py::object complete;
};

// jedi.Script's own `complete`, from its class dict; none when a host has put a function or
// other object in jedi.Script's place (its scripts are then not jedi's own).
py::object script_complete() {
    py::object script = attr(import(PYOBJ_NAME("jedi")), PYOBJ_NAME("Script"));
    if (!PyType_Check(script.ptr())) return py::object();
    return pyobj::dict_get(reinterpret_cast<PyTypeObject*>(script.ptr())->tp_dict, PYOBJ_NAME("complete"));
}

// Taken on the first look, when jedi.Script is a class (the caller has checked).
Snapshot* take_snapshot() {
    auto s = std::make_unique<Snapshot>();
    for (Name* module : {&PYOBJ_NAME("jedi.api.completion"), &PYOBJ_NAME("jedi.api.helpers"),
                         &PYOBJ_NAME("jedi.api.completion_cache")}) {
        py::object d = attr(import(*module), PYOBJ_NAME("__dict__"));
        s->dicts.emplace_back(d, py::reinterpret_steal<py::dict>(pyobj::check(PyDict_Copy(d.ptr()))));
    }
    s->complete = script_complete();
    return s.release();
}

}  // namespace

bool skipped_code_is_own() {
    py::object complete = script_complete();
    if (!complete) return false;
    static Snapshot* first = take_snapshot();  // never destroyed: it holds Python objects
    if (complete.ptr() != first->complete.ptr()) return false;
    for (const auto& [now, then] : first->dicts) {
        if (PyDict_GET_SIZE(now.ptr()) != PyDict_GET_SIZE(then.ptr())) return false;
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(then.ptr(), &pos, &key, &value)) {
            if (PyDict_GetItemWithError(now.ptr(), key) != value) return false;
        }
    }
    return !PyErr_Occurred();
}

py::object entry(py::handle completion, py::handle label, const ItemValues& values) {
    auto plain = [](const py::object& part) { return !part || is_str(part); };
    if (values.failed || values.borrowed || !values.type || !is_str(values.type) || !plain(values.detail) ||
        !plain(values.documentation) || !is_str(label)) {
        return py::object();
    }
    py::object name = attr(completion, PYOBJ_NAME("_name"));
    py::object string_name = attr(name, PYOBJ_NAME("string_name"));
    if (!is_str(string_name)) return py::object();
    py::object import_name = attr(import(PYOBJ_NAME("jedi.inference.names")), PYOBJ_NAME("ImportName"));
    bool is_import = pyobj::check(PyObject_IsInstance(name.ptr(), import_name.ptr()));
    auto or_none = [](const py::object& part) { return part ? part : py::object(py::none()); };
    return py::make_tuple(string_name, label, py::bool_(is_import), values.type, or_none(values.detail),
                          or_none(values.documentation));
}

bool answered_from_jedi_name_cache(py::handle completion) {
    py::object cached_name = attr(completion, PYOBJ_NAME("_cached_name"));
    if (cached_name.is_none()) return false;
    py::object cache = attr(import(PYOBJ_NAME("jedi.api.completion_cache")), PYOBJ_NAME("_cache"));
    if (!PyDict_Check(cache.ptr())) return true;
    py::object names = pyobj::dict_get(cache, cached_name);
    if (!names) return false;
    if (!PyDict_Check(names.ptr())) return true;
    // The type is cached under the string name, the docstrings under the public name.
    py::object name = attr(completion, PYOBJ_NAME("_name"));
    for (py::object key : {attr(name, PYOBJ_NAME("string_name")), call_method(name, PYOBJ_NAME("get_public_name"))}) {
        if (pyobj::check(PyDict_Contains(names.ptr(), key.ptr()))) return true;
    }
    return false;
}

py::object entries_from_json(py::handle stored) {
    if (!PyList_CheckExact(stored.ptr())) return py::object();
    py::list entries;
    auto str_or_none = [](py::handle v) { return v.is_none() || is_str(v); };
    for (py::handle row : stored) {
        if (!PyList_CheckExact(row.ptr()) || PyList_GET_SIZE(row.ptr()) != key::kMemberValueCount) return py::object();
        auto at = [&](Py_ssize_t i) { return py::handle(PyList_GET_ITEM(row.ptr(), i)); };
        if (!is_str(at(0)) || !is_str(at(1)) || !PyBool_Check(at(2).ptr()) || !is_str(at(3)) || !str_or_none(at(4)) ||
            !str_or_none(at(5))) {
            return py::object();
        }
        entries.append(py::make_tuple(at(0), at(1), at(2), at(3), at(4), at(5)));
    }
    return std::move(entries);
}

std::optional<ServedList> serve(py::handle entries, py::handle like_name, bool show_underscores, const ItemMaker& maker) {
    py::object settings = attr(import(PYOBJ_NAME("jedi")), PYOBJ_NAME("settings"));
    // Read now, as filter_names reads it.
    bool folded = pyobj::truthy(attr(settings, PYOBJ_NAME("case_insensitive_completion")));
    py::object like = folded ? call_method(like_name, PYOBJ_NAME("lower")) : py::reinterpret_borrow<py::object>(like_name);
    bool long_typed = PyUnicode_GET_LENGTH(like.ptr()) >= 3;
    ServedList served;
    for (py::handle e : entries) {
        py::handle string = PyTuple_GET_ITEM(e.ptr(), 0);
        py::object compared = folded ? call_method(string, PYOBJ_NAME("lower")) : py::reinterpret_borrow<py::object>(string);
        if (pyobj::check_value(PyUnicode_Tailmatch(compared.ptr(), like.ptr(), 0, PY_SSIZE_T_MAX, -1), Py_ssize_t(-1)) != 1) {
            continue;
        }
        ++served.matched;
        // docstring() resolves an import name fully once 3 characters are typed.
        if (long_typed && PyTuple_GET_ITEM(e.ptr(), 2) == Py_True) return std::nullopt;
        py::handle label = PyTuple_GET_ITEM(e.ptr(), 1);
        if (!show_underscores && maker.starts_with_underscore(label)) continue;
        ItemValues values;
        values.type = py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(e.ptr(), 3));
        if (PyTuple_GET_ITEM(e.ptr(), 4) != Py_None) values.detail = py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(e.ptr(), 4));
        if (PyTuple_GET_ITEM(e.ptr(), 5) != Py_None) {
            values.documentation = py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(e.ptr(), 5));
        }
        served.items.append(maker.from_values(label, values));
    }
    return served;
}

}  // namespace item_cache::members
