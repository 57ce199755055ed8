"""The completion item cache: answers and log records equal to the uncached ones, library edits
seen at once, the disk store shared between processes and ignored when it cannot be used."""
import glob
import json
import os
import sys
import sysconfig
import threading
import time

import jedi
from jedi.api import completion_cache
from jedi.api.classes import Completion
import parso
import pytest

from support import DEVHOST
from support.item_answers import Differential, ask

STDLIB_MODULES = """os sys json re collections itertools functools math string random datetime time
    pathlib typing io shutil subprocess logging argparse csv enum abc copy pickle struct socket
    threading queue heapq bisect hashlib base64 textwrap glob fnmatch tempfile uuid decimal fractions
    statistics operator contextlib dataclasses inspect traceback warnings weakref zlib gzip platform
    signal errno stat calendar pprint codecs locale unicodedata html array""".split()

SHAPES = 'def area(r):\n    "Area of a circle."\n    return 3.14 * r * r\n'

# (code, path, modules): builtin types and instances, user code, a synced module, underscores.
OTHER_CASES = [
    ("str.", None, None),
    ('"text".', None, None),
    ("[1, 2].", None, None),
    ("{}.", None, None),
    ("(1).", None, None),
    ("pri", None, None),
    ("", None, None),
    ("import os\nos._", None, None),
    ("import os\nos.path.", None, None),
    ("class Local:\n    def go(self):\n        'Go.'\nLocal().", None, None),
    ("def helper():\n    'Help.'\nhel", "user_mod", None),
    ("import shapes\nshapes.", "main", {"shapes": SHAPES}),
]


# jedi's parser cache and the item store go to a folder of the module's own (conftest).
pytestmark = pytest.mark.usefixtures("jedi_cache_dir")


def store_files(cache_dir):
    return glob.glob(os.path.join(cache_dir, "lsp_bridge_items", "*.json"))


def docstring_runs(ask_once):
    """How many items jedi computed in one request (each runs Completion._get_docstring once)."""
    runs = [0]

    def profile(frame, event, arg):
        if event == "call" and frame.f_code is Completion._get_docstring.__code__:
            runs[0] += 1

    sys.setprofile(profile)
    try:
        ask_once()
    finally:
        sys.setprofile(None)
    return runs[0]


# jedi names a request's text `__main__` (no path) or after its module, and notes that the module
# has no stub once a member is looked up through one of its instances: that note is the user's
# module, so the members a user's class inherits from a library class are kept all the same.
@pytest.mark.parametrize("path", [None, "user_mod"])
def test_inherited_library_members_are_served(bridge, logs, path):
    code = "import threading\n\nclass Worker(threading.Thread):\n    def go(self):\n        self."
    ask(bridge, logs, code, path)
    assert docstring_runs(lambda: ask(bridge, logs, code, path)) == 1  # only the user's own `go`


def test_cached_answers_and_logs_equal_uncached(lsp, bridge, uncached, logs, jedi_cache_dir, capsys):
    diff = Differential(bridge, uncached, logs)
    for i, name in enumerate(STDLIB_MODULES):
        diff.check(f"import {name}\n{name}.", repeats=3 if i < 10 else 2)
    for code, path, modules in OTHER_CASES:
        diff.check(code, path, modules)
    assert store_files(jedi_cache_dir), "the modules were written to the disk store"
    bridge.update_sys_paths([])
    for name in STDLIB_MODULES[:8]:
        diff.check(f"import {name}\n{name}.", repeats=2)
    bridge.set_workspace(os.getcwd())
    diff.check("import json\njson.", repeats=1)
    with capsys.disabled():
        print(f"\n[item cache] uncached answers that varied: {diff.nondeterministic}")


def write_library(root, doc, mtime):
    path = os.path.join(root, "cachelib.py")
    with open(path, "w") as f:
        f.write(f'def helper(x):\n    "{doc}"\n    return x\n\nLIMIT = 3\n')
    # Older than a moment ago: a file written just now is not cached yet.
    os.utime(path, ns=(mtime, mtime))
    return path


def test_library_edit_shows_on_next_request(bridge, logs, jedi_cache_dir, tmp_path, monkeypatch):
    real = sysconfig.get_paths
    monkeypatch.setattr(sysconfig, "get_paths", lambda *a, **k: dict(real(*a, **k), purelib=str(tmp_path)))
    past = time.time_ns() - 60 * 10**9
    write_library(tmp_path, "Old words.", past)
    time.sleep(2.1)  # its change time, which cannot be set back, must settle before it is cached
    bridge.update_sys_paths([str(tmp_path)])
    code = "import cachelib\ncachelib.hel"

    def documentation():
        answer, _ = ask(bridge, logs, code)
        return [c.get("documentation") for c in answer["completions"] if c["label"] == "helper"]

    assert documentation() == documentation() == ["helper(x)\n\nOld words."]
    assert any("Old words." in open(p).read() for p in store_files(jedi_cache_dir))
    write_library(tmp_path, "New words!", past + 10**9)
    assert documentation() == ["helper(x)\n\nNew words!"]


def settled_library(root, monkeypatch, files, bridges):
    """`files` written to a library folder searched by `bridges`, dated back and settled."""
    real = sysconfig.get_paths
    monkeypatch.setattr(sysconfig, "get_paths", lambda *a, **k: dict(real(*a, **k), purelib=str(root)))
    past = time.time_ns() - 60 * 10**9
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)
        os.utime(root / name, ns=(past, past))
    time.sleep(2.1)  # the change time must settle before the files are cached
    for b in bridges:
        b.update_sys_paths([str(root)])


# jedi runs a function per_function_execution_limit (6) times in a request and refuses the next
# run, but lets typing's run on. Each item runs one function once: `deco`, so the seventh item of
# `limdeco.` is shown undecorated, or `Literal[...]`'s `__getitem__`. The items made before a
# refusal are kept; the refused one is not, and alone it is decorated.
# (module, {file: text}, [(name, kept, what its documentation shows)])
LIMITED = [
    ("limdeco", {"limdeco.py": 'def deco(f):\n    def wrapped(x, y):\n        "Wrapped."\n    return wrapped\n\n'
                 + "".join(f'@deco\ndef f{i}(a, b={i}):\n    "Doc."\n\n' for i in range(8))},
     [("f5", True, "wrapped(x, y)"), ("f6", False, "wrapped(x, y)")]),
    ("limtyping", {"limtyping.py": "", "limtyping.pyi": "from typing import Generic, TypeVar, Literal as L\n"
                   "T = TypeVar('T')\nclass U(Generic[T]):\n    def __call__(self, x: int) -> int: ...\n"
                   + "".join(f"f{i}: U[L['f{i}']]\n" for i in range(8))},
     [("f6", True, "U(x: int) -> int"), ("f7", True, "U(x: int) -> int")]),
]


@pytest.mark.parametrize("module, files, names", LIMITED, ids=[row[0] for row in LIMITED])
def test_items_made_before_a_refused_execution_are_kept(bridge, uncached, logs, tmp_path, monkeypatch, module, files,
                                                        names):
    settled_library(tmp_path, monkeypatch, files, (bridge, uncached))
    Differential(bridge, uncached, logs).check(f"import {module}\n{module}.", repeats=1)
    for name, kept, shown in names:
        code = f"import {module}\n{module}.{name}"
        answer = []
        assert docstring_runs(lambda: answer.append(ask(bridge, logs, code))) == (0 if kept else 1), name
        assert answer[0] == ask(uncached, logs, code)
        assert shown in answer[0][0]["completions"][0]["documentation"]


# jedi ignores decorators in pandas (numpy, ...); there each item of the stub runs `make` instead.
MADE = "class Thing:\n    def __call__(self, x: int) -> int: ...\n\ndef make(a: int) -> Thing: ...\n\n" + "".join(
    f"v{i} = make({i})\n" for i in range(20))


def test_names_of_jedis_numpy_cache_are_made_again_until_the_list_is_kept(bridge, uncached, logs, tmp_path,
                                                                          monkeypatch):
    """jedi's process-wide cache answers `pandas.` (numpy, ...) as the first request made it, past
    make's limit; each later request makes some items again in its own state and keeps them."""
    settled_library(tmp_path, monkeypatch, {"pandas/__init__.py": "", "pandas/__init__.pyi": MADE}, (bridge, uncached))
    code, answer = "import pandas\npandas.", []
    try:
        ask(uncached, logs, code)
        while len(answer) < 40 and docstring_runs(lambda: answer.append(ask(bridge, logs, code))):
            pass  # each request makes at least one item again, until the list is served
        assert docstring_runs(lambda: answer.append(ask(bridge, logs, code))) == 0
        assert {c["documentation"] for c in answer[-1][0]["completions"] if c["label"][0] == "v"} == {"Thing(x: int) -> int"}
        Differential(bridge, uncached, logs).check(code, repeats=2)
    finally:
        completion_cache._cache.pop("pandas", None)


# (what a library module does with sys.path, whether its names are kept): jedi searches the folders
# a module inserts, appends or assigns there, which nothing watches; one that only reads it adds none.
SEARCH_PATH_USES = [("PATHS = list(sys.path)", True), ("path = sys.path", True),
                    ("sys.path.append('extra')", False), ("sys.path.insert(0, 'extra')", False),
                    ("sys.path[0:0] = ['extra']", False), ("sys.path += ['extra']", False)]


def test_modules_that_change_their_search_path_are_not_kept(bridge, logs, tmp_path, monkeypatch):
    real = sysconfig.get_paths
    monkeypatch.setattr(sysconfig, "get_paths", lambda *a, **k: dict(real(*a, **k), purelib=str(tmp_path)))
    past = time.time_ns() - 60 * 10**9
    for i, (use, _) in enumerate(SEARCH_PATH_USES):
        path = tmp_path / f"pathuse{i}.py"
        path.write_text(f'import sys\n{use}\n\ndef helper(x):\n    "Help."\n    return x\n')
        os.utime(path, ns=(past, past))
    time.sleep(2.1)  # the change times must settle before anything is cached
    bridge.update_sys_paths([str(tmp_path)])
    kept = []
    for i, _ in enumerate(SEARCH_PATH_USES):
        ask(bridge, logs, f"import pathuse{i}\npathuse{i}.hel")
        kept.append(docstring_runs(lambda: ask(bridge, logs, f"import pathuse{i}\npathuse{i}.hel")) == 0)
    bridge.update_sys_paths([])
    assert kept == [expected for _, expected in SEARCH_PATH_USES]


def test_synced_module_edit_shows_on_next_request(bridge, logs):
    for doc in ("First.", "Second."):
        answer, _ = ask(bridge, logs, "import shapes\nshapes.", "main", {"shapes": f'def area(r):\n    "{doc}"\n'})
        assert [c.get("documentation") for c in answer["completions"]] == [f"area(r)\n\n{doc}"]


def test_failing_jedi_part_is_answered_as_uncached_and_not_kept(bridge, uncached, logs, tmp_path, monkeypatch):
    monkeypatch.setattr(jedi.settings, "cache_directory", str(tmp_path))  # nothing stored yet
    real = jedi.api.classes.Completion.docstring

    def docstring(self, *a, **k):
        if self.name == "dumps":
            raise RuntimeError("jedi failed")
        return real(self, *a, **k)

    bridge.update_sys_paths([])
    monkeypatch.setattr(jedi.api.classes.Completion, "docstring", docstring)
    code = "import json\njson."
    failing = ask(bridge, logs, code)
    assert failing == ask(uncached, logs, code)
    assert "documentation" not in next(c for c in failing[0]["completions"] if c["label"] == "dumps")
    monkeypatch.setattr(jedi.api.classes.Completion, "docstring", real)
    assert ask(bridge, logs, code) == ask(uncached, logs, code)


@pytest.mark.parametrize("code", ["import json\njson.", "import json\njson.du", "x = 'a'\nx."])
def test_a_failure_inside_the_caches_own_step_is_never_an_empty_answer(bridge, uncached, logs, tmp_path, monkeypatch,
                                                                      code):
    """Every parso pickle cut in half: jedi fails where the cache's site check asks it first, and
    jedi's memo would then give complete() an empty default on the same Script."""
    monkeypatch.setattr(jedi.settings, "cache_directory", str(tmp_path))
    bridge.update_sys_paths([])
    ask(uncached, logs, code)
    for path in glob.glob(str(tmp_path / "**" / "*.pkl"), recursive=True):
        with open(path, "r+b") as f:
            f.truncate(os.path.getsize(path) // 2)
    monkeypatch.setattr(parso.cache, "parser_cache", {})
    expected = ask(uncached, logs, code)
    monkeypatch.setattr(parso.cache, "parser_cache", {})
    assert ask(bridge, logs, code) == expected


@pytest.mark.parametrize(
    "content",
    [b'{"format": 1, "python": ', b"[]", b"\xff\xfe", ("python", "2.7.0"),
     ("files", [["/", 0, 10**30, 0, 0, 0, True]])],
    ids=["truncated", "not-an-object", "not-utf8", "foreign-version", "number-out-of-range"],
)
def test_unusable_store_file_is_ignored_and_rewritten(bridge, uncached, logs, jedi_cache_dir, content):
    code = "import base64\nbase64."
    bridge.update_sys_paths([])  # the search path of the request below, as stored
    ask(bridge, logs, code)
    files = [p for p in store_files(jedi_cache_dir) if b"base64.py" in open(p, "rb").read()]
    assert files
    for path in files:
        text = content
        if isinstance(content, tuple):  # one field of a well-formed file replaced
            data = json.load(open(path))
            data[content[0]] = content[1]
            text = json.dumps(data).encode()
        with open(path, "wb") as f:
            f.write(text)
    bridge.update_sys_paths([])  # empties the in-memory cache: the next request reads the disk
    answer = ask(bridge, logs, code)
    ignored = [r.args[0] for r in logs.records if "Ignoring completion item cache file" in r.msg]
    assert ignored and set(ignored) <= set(files)
    assert answer[0] == ask(uncached, logs, code)[0]
    assert all(json.load(open(path))["python"] == sys.version for path in ignored)


def test_unwritable_store_changes_no_answer(bridge, uncached, logs, tmp_path, monkeypatch):
    # The store's folder cannot be made: a file stands in its place.
    (tmp_path / "lsp_bridge_items").write_text("")
    monkeypatch.setattr(jedi.settings, "cache_directory", str(tmp_path))
    bridge.update_sys_paths([])
    code = "import shlex\nshlex."
    answer, calls = ask(bridge, logs, code)
    assert any("Could not write completion item cache file" in str(call) for call in calls)
    assert answer == ask(uncached, logs, code)[0]


# The processes below take their bridge from the tests' support package.
# The budget off: a first `os.` in a fresh cache with a profiler on may pass 15 s on a busy machine.
IN_NEW_PROCESS = {"PYTHONPATH": os.pathsep.join([DEVHOST, os.path.dirname(os.path.abspath(__file__))]),
                  "LSP_BRIDGE_REQUEST_BUDGET": "0"}

REQUEST_SCRIPT = """
import json
from corvane_master.python_server import lsp_bridge
from support import new_bridge
b = new_bridge(lsp_bridge)
answers = [b.get_completions(f"import {m}\\n{m}.", 2, len(m) + 1) for m in ("json", "textwrap", "base64")]
b.cleanup()
print(json.dumps(answers))
"""


def test_processes_share_the_store(run_python, tmp_path):
    shared = dict(IN_NEW_PROCESS, XDG_CACHE_HOME=str(tmp_path))
    store = tmp_path / "jedi" / "lsp_bridge_items"
    # The reference, with the store off, also fills jedi's parser cache first: parso's own files
    # are not written atomically, so two processes parsing at once could fail each other.
    reference = run_python(REQUEST_SCRIPT, env=dict(shared, LSP_BRIDGE_NO_PERSISTENT_CACHE="1"))
    assert not store.exists()
    outputs = []
    # Two writers at once, then a reader that starts from their files.
    writers = [threading.Thread(target=lambda: outputs.append(run_python(REQUEST_SCRIPT, env=shared)))
               for _ in range(2)]
    for w in writers:
        w.start()
    for w in writers:
        w.join()
    reader = run_python(REQUEST_SCRIPT, env=shared)
    for run in outputs + [reader, reference]:
        assert run.returncode == 0, run.stderr
    stored = store_files(str(tmp_path / "jedi"))
    assert len(stored) >= 3 and all(isinstance(json.load(open(p)), dict) for p in stored)
    for run in outputs + [reader]:
        assert json.loads(run.stdout) == json.loads(reference.stdout)


HITS_SCRIPT = """
import json, sys
from jedi.api import completion_cache
from jedi.api.classes import Completion
from corvane_master.python_server import lsp_bridge
from support import new_bridge
b = new_bridge(lsp_bridge)
runs = [0]
def profile(frame, event, arg):
    if event == "call" and frame.f_code is Completion._get_docstring.__code__:
        runs[0] += 1
sys.setprofile(profile)
answer = b.get_completions("import os\\nos.", 2, 3)
sys.setprofile(None)
b.cleanup()
print(json.dumps([len(answer["completions"]), runs[0]]))
"""


def test_a_new_bridge_in_a_new_process_is_served_from_the_store(run_python, tmp_path):
    # Each bridge has a sync folder of its own: the store must not be tied to where it is.
    shared = dict(IN_NEW_PROCESS, XDG_CACHE_HOME=str(tmp_path))
    # jedi meets a limit within `os.`: what it computes past it is not kept, so a later process
    # keeps what it computed before meeting one, and the third finds nearly all of them.
    runs = [run_python(HITS_SCRIPT, env=shared) for _ in range(3)]
    assert all(run.returncode == 0 for run in runs), "".join(run.stderr for run in runs)
    (items, computed_first), (same_items, computed_second), (last_items, computed_third) = (
        json.loads(run.stdout) for run in runs)
    assert items == same_items == last_items and computed_first == items
    assert computed_second < items and computed_third < items / 10
