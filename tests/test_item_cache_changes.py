"""The completion item cache while things change under it: a dependency of a library module edited,
replaced keeping its size and modification time, or upgraded the way an installer does; a synced
module shadowing a library import; search paths switched, also by another bridge or thread; unsaved
text in a library file; another interpreter's environment; jedi patched by the host; a store folder
that is not the cache's own. Every answer and its log records, in this process and in new ones that
read the disk store back, must equal those of a bridge without the cache.

The random sequence takes LSP_BRIDGE_CHANGE_SEED (an integer, or "random") and
LSP_BRIDGE_CHANGE_STEPS; `make test-changes` runs a long one."""
import hashlib
import json
import os
import random
import string
import subprocess
import sys
import sysconfig
import threading
import time

import jedi
import jedi.plugins
from jedi.api import completion_cache
from jedi.inference.base_value import NO_VALUES
import parso
import pytest

from support import DEVHOST, ROOT, new_bridge
from support.item_answers import STORE, ask, difference, differences, uncached_bridge

SEED_TEXT = os.environ.get("LSP_BRIDGE_CHANGE_SEED") or "1"
SEED = random.SystemRandom().randrange(2**32) if SEED_TEXT == "random" else int(SEED_TEXT)
STEPS = int(os.environ.get("LSP_BRIDGE_CHANGE_STEPS") or 12)
NOBODY = 65534

REQUESTS = {
    "child": "import child\nchild.",
    "stub": "import stubpkg\nstubpkg.",
    "client": "import clientpkg\nclientpkg.",
    "base": "import base\nbase.",
    "dep": "import deppkg\ndeppkg.",
}

# The library. child.py takes Thing's signature from base.Base and run's from base.deco; the star
# import also brings a FROM_<where> name that tells which base.py a request saw. alt/base.py is
# searched before lib/base.py when the search paths say so, and lies outside every library root.
FIXED = {
    "lib/child.py": 'from base import *\n\n\nclass Thing(Base):\n    "A thing."\n\n\n'
                    '@deco\ndef run(a, b):\n    "Run it."\n    return a\n',
    "lib/stubpkg/__init__.py": "from ._impl import helper\n",
    # Gear's statements reached through an instance: size's value is a plain int, spin's a function
    # that binds to the instance
    "lib/stubpkg/__init__.pyi": "def helper(a: int) -> int: ...\n\n\nclass Gear:\n    size: int\n"
                                "    def turn(self, a: int) -> int: ...\n    spin = turn\n",
    "lib/clientpkg/__init__.py": 'from deppkg import Session\n\n\nclass Client(Session):\n    "A client."\n',
}
# The classes of stale answers a second review found (see CLASSES below): ten functions whose
# shared decorator jedi stops executing within one request; a module imported from a folder jedi's
# helper listed before a copy kept the folder's modification time; one imported from a folder that
# a library module adds to its own search path.
HELPER = "def deco(f):\n    def wrapper({params}):\n        return f\n\n    return wrapper\n"
NAMESPACE = "from pkgutil import extend_path\n\n__path__ = extend_path(__path__, __name__)\n"
OPS = "def deco(f):\n    def wrapper(flag=True):\n        return f\n\n    return wrapper\n" + "".join(
    f'\n\n@deco\ndef op{i}(a, b):\n    "Op {i}."\n    return a\n' for i in range(10))
CLASS_FILES = {
    "lib/ops.py": OPS,
    "lib/needy.py": 'from late import *\n\n\nclass Needy(Late):\n    "Needy."\n',
    "lib/pathy.py": 'import sys\n\nsys.path.insert(0, {extra!r})\nfrom extramod import *\n\n\n'
                    'class Pathy(Extra):\n    "Pathy."\n',
    # a decorator in another module than the function it wraps, so a list of api's module whose
    # item was served never made jedi read helper.py
    "lib/helper.py": HELPER.format(params="flag=True"),
    "lib/api.py": 'from helper import deco\n\n\n@deco\ndef api(a, b):\n    "Api."\n    return a\n',
    # a name whose running value (jedi.settings.auto_import_modules) differs from its source
    "lib/autodoc.py": 'def tool(a):\n    "Source doc."\n    return a\n\n\ntool.__doc__ = "Running doc."\n',
    "lib/reexp.py": "from autodoc import tool\n",
    # a pkgutil-style package in two folders of the search path, one of them without a module yet
    "lib/nspkg/__init__.py": NAMESPACE, "lib/portion/nspkg/__init__.py": NAMESPACE,
    "lib/portion/nspkg/c.py": "",
    # one of the modules whose names jedi answers from its own process-wide cache (completion_cache)
    "lib/pandas/__init__.py": 'from pandas._impl import frame as frame\nfrom pandas._impl import *\n\n\n'
                              'def read(path, sep=","):\n    "Read it."\n    return path\n',
}
IMPL = 'def frame({params}):\n    "Frame {word}."\n    return 1\n\n\nclass Series:\n    "Series {word}."\n'

LATE = 'class {name}:\n    "{name}."\n\n    def __init__(self, a, b):\n        pass\n'
CLASS_REQUESTS = {"needy": "import needy\nneedy.", "pathy": "import pathy\npathy.",
                  # a library class's instance, its members kept as a list after the dot
                  "thing.": "import child\nchild.Thing().", "thing.__": "import child\nchild.Thing().__",
                  # object's members through two user classes: __class__ is a property whose setter comes
                  # last, typed "function", and its value is the instance's class
                  "own-a": "class A:\n    def go(self):\n        self.__",
                  "own-b": "class B:\n    def __init__(self, k):\n        pass\n\n    def go(self):\n        self.__",
                  # a stub class's statements through two user classes
                  "own-c": "import stubpkg\n\nclass C(stubpkg.Gear):\n    def go(self):\n        self.",
                  "own-d": "import stubpkg\n\nclass D(stubpkg.Gear):\n    def __init__(self, k):\n        pass\n\n"
                           "    def go(self):\n        self.",
                  "from-api": "from api import ", "api.": "import api\napi.", "api.ap": "import api\napi.ap",
                  "lit": "import child\nx = [child.Thing()]\nx.append(child.run(1, 2))\nx.",
                  "reexp": "import reexp\nreexp.", "nspkg": "import nspkg\nnspkg.", "nspkg.b": "import nspkg\nnspkg.b",
                  "pd.": "import pandas as pd\npd.", "pd.fr": "import pandas as pd\npd.fr",
                  "pd.fra": "import pandas as pd\npd.fra",
                  # two values that describe alike: instances of one library class
                  "things": "import child\nc = 1\nx = child.Thing() if c else child.Thing(1, 2)\nx.",
                  # two library classes' instances, and a library function bound to an instance
                  "mixed": "import base\nimport child\nc = 1\nx = child.Thing() if c else base.Base()\nx.",
                  "bound": "import child\nm = child.Thing().__init__\nm."}
VARYING = ["lib/base.py", "alt/base.py", "lib/stubpkg/_impl.py", "lib/deppkg/__init__.py"]
# An unsaved library file, and the request that reads it through another module.
UNSAVED = {"lib/base.py": "child", "lib/stubpkg/_impl.py": "stub", "lib/deppkg/__init__.py": "client"}
LETTERS = "kmnpqrstuvwxyz"
DEPENDENCY_PARAMS = ["x", "x, timeout=None"]


def render(rel, word, params, wrapped):
    if rel.endswith("_impl.py"):
        return f'def helper(a):\n    "Helper {word}."\n    return a\n'
    if "deppkg" in rel:
        return f'class Session:\n    "Session {word}."\n\n    def __init__(self, {params}):\n        pass\n'
    marker = {"lib/base.py": "LIB", "alt/base.py": "ALT"}.get(rel, "SYNC")
    deco = "    def wrapper(flag=True):\n        return f\n\n    return wrapper\n" if wrapped else "    return f\n"
    return (f'class Base:\n    "Base {word}."\n\n    def __init__(self, {params}):\n        pass\n\n\n'
            f"def deco(f):\n{deco}\n\nFROM_{marker} = 1\n")


def word(rng):
    return "".join(rng.choice(string.ascii_lowercase) for _ in range(4))


def new_fields(rng, rel, old, same_size=False):
    """(word, params, wrapped) for the next version of a file. Unless the size is kept, what
    child.py or clientpkg inherit changes too: the number of parameters, the decorator."""
    _, params, wrapped = old
    if "deppkg" in rel:
        params = params if same_size else DEPENDENCY_PARAMS[1 - DEPENDENCY_PARAMS.index(params)]
    else:
        count = len(params.split(", "))
        count = count if same_size else rng.choice([n for n in (1, 2, 3) if n != count])
        params = ", ".join(rng.sample(LETTERS, count))
        wrapped = wrapped if same_size else not wrapped
    while True:
        fields = (word(rng), params, wrapped)
        if fields[:2] != old[:2]:
            return fields


def forget_names():
    """jedi's cache of pandas' (and numpy's) names keeps what it saw first in the process: it goes
    before every request, so that each bridge's answer is jedi's for the files as they now are."""
    completion_cache._cache.clear()


def forget_parse(path):
    """jedi's parser cache trusts modification times too: its copies of a changed file go, so that
    the uncached answer is jedi's answer for the file as it now is."""
    for trees in parso.cache.parser_cache.values():
        for key in [k for k in trees if str(k) == path]:
            del trees[key]
    suffix = "-%s.pkl" % hashlib.sha256(path.encode()).hexdigest()
    for folder, _, names in os.walk(jedi.settings.cache_directory):
        for name in names:
            if name.endswith(suffix):
                os.remove(os.path.join(folder, name))


class Library:
    """A library root (lib: searched, and the purelib, so its files are library files) and a folder
    searched before it on request (alt). Files are dated an hour back, a second apart, so that
    jedi's parser sees each write and the cache takes them as settled."""

    def __init__(self, root, rng):
        self.root, self.rng = str(root), rng
        self.lib, self.alt = os.path.join(self.root, "lib"), os.path.join(self.root, "alt")
        self.clock = (time.time_ns() // 10**9 - 3600) * 10**9
        self.version = 1
        for rel, text in FIXED.items():
            self.write(rel, text)
        for rel, text in CLASS_FILES.items():
            self.write(rel, text.format(extra=self.path("extra")))
        self.write("lib/pandas/_impl.py", IMPL.format(params="data", word=word(rng)))
        os.makedirs(self.path("extra"))
        self.write("lib/deppkg-1.0.dist-info/METADATA", "Name: deppkg\nVersion: 1.0\n")
        self.fields = {"lib/base.py": ("", "x", False), "alt/base.py": ("", "x, y", True),
                       "lib/stubpkg/_impl.py": ("", "a", False), "lib/deppkg/__init__.py": ("", "x", False)}
        for rel, (_, params, wrapped) in self.fields.items():
            self.fields[rel] = (word(rng), params, wrapped)
            self.write(rel, render(rel, *self.fields[rel]))

    def path(self, rel):
        return os.path.join(self.root, rel)

    def write(self, rel, text, mtime_ns=None):
        path = self.path(rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
        self.clock += 10**9
        os.utime(path, ns=(mtime_ns or self.clock,) * 2)
        forget_parse(path)

    def edit(self, rel, same_size=False):
        self.fields[rel] = new_fields(self.rng, rel, self.fields[rel], same_size)
        text = render(rel, *self.fields[rel])
        old = os.stat(self.path(rel))
        if same_size:
            # As `tar x`, `cp -p` or `rsync -a` leave a file: same size, an old modification time.
            assert len(text) == old.st_size
        self.write(rel, text, old.st_mtime_ns if same_size else None)

    def upgrade(self):
        """deppkg's next version as an installer puts it: the file written under a temporary name
        and renamed over the old one, the dist-info folder renamed to the new version."""
        rel = "lib/deppkg/__init__.py"
        self.fields[rel] = new_fields(self.rng, rel, self.fields[rel])
        self.write("lib/deppkg/.__init__.py.new", render(rel, *self.fields[rel]))
        os.replace(self.path("lib/deppkg/.__init__.py.new"), self.path(rel))
        forget_parse(self.path(rel))
        old_info = self.path(f"lib/deppkg-{self.version}.0.dist-info")
        self.version += 1
        os.rename(old_info, self.path(f"lib/deppkg-{self.version}.0.dist-info"))
        self.write(f"lib/deppkg-{self.version}.0.dist-info/METADATA", f"Name: deppkg\nVersion: {self.version}.0\n")


# A new interpreter: the bridge (with or without the cache) answers the requests; printed as JSON.
CHILD = """
import importlib, json, os, sysconfig, time
conf = json.loads(os.environ["LSP_BRIDGE_CHANGE_CONF"])
for name, value in (("LSP_BRIDGE_NO_PERSISTENT_CACHE", conf["uncached"] and "1"), ("VIRTUAL_ENV", conf.get("venv"))):
    if value:
        os.environ[name] = value
    else:
        os.environ.pop(name, None)
if conf.get("lib"):
    real_paths = sysconfig.get_paths
    sysconfig.get_paths = lambda *a, **k: dict(real_paths(*a, **k), purelib=conf["lib"])
import jedi
jedi.settings.cache_directory = conf["cache"]
for name, value in conf.get("settings", {}).items():
    setattr(jedi.settings, name, value)
from support import MODULE_NAME, captured_logs, new_bridge
from support.item_answers import ask, uncached_bridge
lsp = importlib.import_module(MODULE_NAME)
b = uncached_bridge(lsp) if conf["uncached"] else new_bridge(lsp)
b.update_sys_paths(conf["paths"])
answers = []
with captured_logs() as logs:
    for i, code in enumerate(conf["requests"]):
        if i == 1 and conf.get("copy"):
            # Copied in as `cp -a` does, keeping the folder's modification time; then settled.
            path, text = conf["copy"]
            folder = os.stat(os.path.dirname(path))
            with open(path, "w") as f:
                f.write(text)
            os.utime(os.path.dirname(path), ns=(folder.st_atime_ns, folder.st_mtime_ns))
            time.sleep(2.1)
        answers.append(ask(b, logs, code, None, conf["modules"] or None))
b.cleanup()
print(json.dumps(answers))
"""


def in_new_process(run_python, timeout=120, **conf):
    env = {"PYTHONPATH": os.pathsep.join([DEVHOST, os.path.join(ROOT, "tests")]),
           "LSP_BRIDGE_CHANGE_CONF": json.dumps(dict({"modules": {}, "requests": list(REQUESTS.values())}, **conf))}
    run = run_python(CHILD, timeout=timeout, env=env)
    assert run.returncode == 0, run.stderr[-3000:]
    return json.loads(run.stdout.splitlines()[-1])


def as_purelib(monkeypatch, library):
    real = sysconfig.get_paths
    monkeypatch.setattr(sysconfig, "get_paths", lambda *a, **k: dict(real(*a, **k), purelib=library.lib))


class Session:
    """Steps against one library with the cached and the uncached bridge kept alike (search paths,
    synced modules); each request's answers are compared, and a failure names the steps so far."""

    def __init__(self, label, library, cached, uncached, logs, run_python, monkeypatch, with_logs=True):
        self.label, self.library, self.bridges = label, library, (cached, uncached)
        self.logs, self.run_python, self.monkeypatch, self.with_logs = logs, run_python, monkeypatch, with_logs
        self.synced_fields = ("", "x", False)
        self.done, self.modules, self.settings = [], {}, {}
        as_purelib(monkeypatch, library)
        self.set_paths([library.lib])
        for b in self.bridges:
            b.delete_module("base")

    def fail(self, what):
        pytest.fail(f"{self.label} (seed {SEED}), after {' '.join(self.done)}: {what}", pytrace=False)

    def set_paths(self, paths):
        self.search = paths
        for b in self.bridges:
            b.update_sys_paths(paths)

    def check(self, name, code=None, path=None, position=None):
        cached, uncached = self.bridges
        modules = dict(self.modules) or None
        code = code or REQUESTS.get(name) or CLASS_REQUESTS[name]
        forget_names()
        expected = ask(uncached, self.logs, code, path, modules, position)
        assert expected[0]["error"] is None and (code or expected[0]["completions"]), expected
        forget_names()
        for _ in range(2):  # the first may fill the cache, the second is answered from it
            got = ask(cached, self.logs, code, path, modules, position)
            wrong = differences([name], [got], [expected], self.with_logs)
            if wrong:
                self.fail(wrong[0])

    def run(self, steps):
        for action, arg in steps:
            self.done.append(f"{action}:{arg}" if arg else action)
            getattr(self, action.replace("-", "_"))(arg)

    def ask(self, name):
        self.check(name)

    def edit(self, rel):
        self.library.edit(rel)

    def in_place(self, rel):
        self.library.edit(rel, same_size=True)

    def upgrade(self, _):
        self.library.upgrade()

    def sync(self, how):
        if how == "remove":
            self.modules.pop("base", None)
            for b in self.bridges:
                b.delete_module("base")
        else:
            self.synced_fields = new_fields(self.library.rng, "sync", self.synced_fields)
            self.modules["base"] = render("sync", *self.synced_fields)

    def paths(self, which):
        first = {"alt": [self.library.alt], "portion": [self.library.path("lib/portion")]}.get(which, [])
        self.set_paths(first + [self.library.lib])

    def unsaved(self, rel):
        edited = render(rel, *new_fields(self.library.rng, rel, self.library.fields[rel]))
        name = UNSAVED[rel]
        self.check(name, edited + REQUESTS[name], self.library.path(rel))

    def revert(self, rel):
        # The editor shows the saved text again: jedi's parser cache holds that text from here on.
        saved = open(self.library.path(rel)).read()
        head = saved.split("\n")[0]
        self.check(f"{rel} as saved", saved, self.library.path(rel), (1, len(head.split("(")[0].rstrip(":"))))

    def patch(self, _):
        real = jedi.api.classes.Completion.docstring
        self.monkeypatch.setattr(jedi.api.classes.Completion, "docstring",
                                 lambda completion, *a, **k: real(completion, *a, **k) + "\n\n(host note)")

    def restart(self, names):
        requests = dict(REQUESTS, **CLASS_REQUESTS) if names else REQUESTS
        requests = {n: requests[n] for n in (names.split(",") if names else requests)}
        expected, got = (self.new_process(uncached=u, requests=list(requests.values())) for u in (True, False))
        wrong = differences(requests, got, expected, self.with_logs)
        if wrong:
            self.fail(f"in a new process: {'; '.join(wrong)}")

    def new_process(self, **conf):
        return in_new_process(self.run_python, lib=self.library.lib, cache=jedi.settings.cache_directory,
                              paths=self.search, modules=self.modules, settings=self.settings, **conf)

    def limits(self, module):
        """A request whose items meet a jedi limit, then one for the last item alone, each in a new
        process; then the first again, where an item may be this request's or, served from the
        store, the one asked alone (the answer of a request that met no limit)."""
        every = f"import {module}\n{module}."
        alone = [f"{every}op{i}" for i in range(10)]
        expected = self.new_process(uncached=True, requests=[every] + alone)
        got = self.new_process(uncached=False, requests=[every, alone[-1]])
        wrong = differences(["all", "the last alone"], got, [expected[0], expected[-1]], logs=False)
        (answer, _), = self.new_process(uncached=False, requests=[every])
        allowed = [expected[0][0]["completions"]] + [e[0]["completions"] for e in expected[1:]]
        for item in answer["completions"]:
            if not any(item in items for items in allowed):
                wrong.append(f"read back: {item}")
        if wrong:
            self.fail("; ".join(wrong))

    def restub(self, _):
        """The package's stub replaced by one that declares another name."""
        self.library.write("lib/stubpkg/__init__.pyi", f"def {word(self.library.rng)}(a: int) -> int: ...\n")

    def copy_in(self, rel):
        """A process whose jedi helper listed the folder before a module was copied into it asks
        again: jedi's answer there is the helper's, and no later process may be served it."""
        self.new_process(uncached=False, requests=[CLASS_REQUESTS["needy"]] * 2,
                         copy=[self.library.path(rel), LATE.format(name="Late")])

    def add(self, rel):
        self.library.write(rel, LATE.format(name="Extra"))

    def reimpl(self, _):
        self.library.write("lib/pandas/_impl.py", IMPL.format(params="data, copy=False", word=word(self.library.rng)))

    def rewrap(self, _):
        self.library.write("lib/helper.py", HELPER.format(params="verbose=False, more=1"))

    def auto_import(self, module):
        """The host has jedi ask the running module instead of reading its source."""
        self.settings["auto_import_modules"] = jedi.settings.auto_import_modules + [module]
        self.monkeypatch.setattr(jedi.settings, "auto_import_modules", self.settings["auto_import_modules"])

    def unsaved_via(self, method):
        """Unsaved text of lib/base.py through another request than completion."""
        rel = "lib/base.py"
        edited = render(rel, *new_fields(self.library.rng, rel, self.library.fields[rel]))
        for b in self.bridges:
            getattr(b, method)(edited, 4, 10, self.library.path(rel))

    def plugin(self, _):
        """A host's jedi plugin: `base` cannot be imported."""
        manager = jedi.plugins.plugin_manager
        for name, built in list(manager._built_functions.items()):
            self.monkeypatch.setitem(manager._built_functions, name, built)
        self.monkeypatch.setattr(manager, "_registered_plugins", list(manager._registered_plugins))

        def import_module(callback):
            def wrapper(inference_state, import_names, *args, **kwargs):
                if import_names == ("base",):
                    return NO_VALUES
                return callback(inference_state, import_names, *args, **kwargs)

            return wrapper

        host = type(os)("host_plugin")
        host.import_module = import_module
        manager.register(host)


def parse_steps(text):
    return [tuple(step.split(":", 1)) if ":" in step else (step, None) for step in text.split()]


# Each fault found in review, as the steps that show it.
SCENARIOS = {
    "1-base-edited": "ask:child edit:lib/base.py ask:child ask:base",
    "1-dependency-upgraded": "ask:client ask:dep upgrade ask:client ask:dep restart",
    "1-stub-private-submodule-edited": "ask:stub edit:lib/stubpkg/_impl.py ask:stub restart",
    "2-synced-module-shadows-an-import": "ask:child sync:add ask:child sync:add ask:child sync:remove ask:child",
    "2-unsaved-library-file": "unsaved:lib/base.py unsaved:lib/stubpkg/_impl.py restart "
                              "revert:lib/base.py revert:lib/stubpkg/_impl.py ask:child ask:stub",
    "4-replaced-keeping-size-and-mtime": "ask:child ask:stub ask:dep in-place:lib/base.py ask:child "
                                         "in-place:lib/stubpkg/_impl.py ask:stub restart",
    "6-host-patch-of-jedi": "ask:child ask:stub patch ask:child ask:stub",
}
# One case per class of stale answer a second review found, comparing cached answers with
# uncached ones in new processes too; each failed before its fix.
CLASSES = {
    "c1-jedi-limit-within-a-request": "limits:ops",
    "c2-helper-listed-a-folder-before-a-copy": "copy-in:lib/late.py restart:needy",
    "c3-unsaved-text-through-hover": "ask:child unsaved-via:get_hover ask:child",
    "c3-unsaved-text-through-signature-help": "ask:child unsaved-via:get_signature_help ask:child",
    "c4-search-folder-added-by-library-code": "ask:pathy add:extra/extramod.py ask:pathy",
    "c5-host-plugin": "ask:child plugin ask:child",
    "m1-library-class-edited": "ask:thing. ask:thing.__ edit:lib/base.py ask:thing.__ ask:thing. ask:thing.__ "
                               "restart:thing.,thing.__",
    "m2-stub-replaced": "ask:stub restub ask:stub restart:stub",
    "i1-inherited-members-of-two-user-classes": "ask:own-a ask:own-b ask:own-a restart:own-b,own-a",
    "i2-stub-statements-of-two-user-classes": "ask:own-c ask:own-d ask:own-c restart:own-d,own-c",
    # a third review's
    "k1-list-made-from-served-items": "ask:from-api ask:api. rewrap ask:api.ap restart:api.ap",
    "k2-jedi-setting-changed-by-the-host": "ask:reexp auto-import:autodoc ask:reexp restart:reexp",
    "l1-literal-of-library-values": "ask:lit edit:lib/base.py ask:lit restart:lit",
    "k3-package-in-two-folders": "paths:portion ask:nspkg add:lib/nspkg/b.py ask:nspkg ask:nspkg.b "
                                 "restart:nspkg,nspkg.b",
    # a list of a module jedi answers from its name cache, typed first and bare first
    "u1-two-instances-of-a-library-class": "ask:things edit:lib/base.py ask:things restart:things",
    "v1-union-and-bound-method": "ask:mixed ask:bound edit:lib/base.py ask:mixed ask:bound restart:mixed,bound",
    "n1-module-jedi-keeps-names-of": "ask:pd.fr ask:pd. ask:pd.fra reimpl ask:pd. ask:pd.fr restart:pd.,pd.fr,pd.",
}
# Steps over function items again, all made by the plain calls: the cache alone against them, so a
# difference only above (the cache with one-list signatures) is the function items' own.
PLAIN_SIGNATURES = {f"plain-{name}": steps for name, steps in {**SCENARIOS, **CLASSES}.items()
                    if name in ("1-base-edited", "1-stub-private-submodule-edited", "c1-jedi-limit-within-a-request")}
CHANGES = [("edit", VARYING), ("in-place", VARYING), ("upgrade", [None]), ("sync", ["add", "add", "remove"]),
           ("paths", ["lib", "alt"]), ("unsaved", list(UNSAVED)), ("restart", [None])]
HOSTILE_STORES = ["symlink", "foreign-owner", "world-writable", "directory-for-a-file"]
LIBRARIES = list(SCENARIOS) + list(CLASSES) + list(PLAIN_SIGNATURES) + ["random", "2-bridges", "5-race", "7-fifo"] + [f"8-{c}" for c in HOSTILE_STORES]


def random_steps(rng, count):
    """`count` requests, most after a change. Changes are dealt from a shuffled deck of every kind,
    so a short run has each; an unsaved text is reverted before anything else, and the last step
    reads the disk store back in new processes."""
    steps, deck = [], []
    for _ in range(count):
        if rng.random() < 0.7:
            deck = deck or rng.sample(CHANGES, len(CHANGES))
            action, args = deck.pop()
            steps.append((action, rng.choice(args)))
            if action == "unsaved":
                steps.append(("revert", steps[-1][1]))
        steps.append(("ask", rng.choice(list(REQUESTS))))
    return steps + [("restart", None)]


pytestmark = pytest.mark.usefixtures("jedi_cache_dir")


@pytest.fixture(scope="module")
def libraries(tmp_path_factory):
    """Every test's library, written at once: a single wait until the files are old enough to be
    cached by any measure of their age."""
    # Each its own generator: a seed gives the same run whichever tests are selected.
    made = {name: Library(tmp_path_factory.mktemp("lib"), random.Random(f"{SEED} {name}")) for name in LIBRARIES}
    time.sleep(2.1)
    return made


@pytest.fixture
def session(bridge, uncached, logs, libraries, run_python, monkeypatch):
    def make(name, **options):
        return Session(name, libraries[name], bridge, uncached, logs, run_python, monkeypatch, **options)

    return make


@pytest.mark.parametrize("name", list(SCENARIOS))
def test_fault(session, name):
    session(name).run(parse_steps(SCENARIOS[name]))


@pytest.mark.parametrize("name", list(CLASSES))
def test_class(session, name):
    session(name).run(parse_steps(CLASSES[name]))


@pytest.mark.parametrize("name", list(PLAIN_SIGNATURES))
def test_with_plain_signatures(session, monkeypatch, name):
    monkeypatch.setenv("LSP_BRIDGE_PLAIN_SIGNATURES", "1")
    session(name).run(parse_steps(PLAIN_SIGNATURES[name]))


def test_random_changes(session):
    print(f"seed {SEED}, {STEPS} steps")
    session("random").run(random_steps(random.Random(SEED), STEPS))


def test_fault2_bridges_with_other_search_paths(lsp, session, bridge, uncached, logs, libraries):
    library = libraries["2-bridges"]
    session("2-bridges")
    own, other = [library.lib], [library.alt, library.lib]
    expected = []
    for paths in (own, other, other):
        uncached.update_sys_paths(paths)
        expected.append(ask(uncached, logs, REQUESTS["child"]))
    second, third = new_bridge(lsp), new_bridge(lsp)
    try:
        bridge.update_sys_paths(own)
        second.update_sys_paths(other)
        got = [ask(bridge, logs, REQUESTS["child"]), ask(second, logs, REQUESTS["child"])]
        third.update_sys_paths(other)  # empties the memory part: the third reads the disk store
        got.append(ask(third, logs, REQUESTS["child"]))
    finally:
        second.cleanup()
        third.cleanup()
    wrong = differences(["first bridge", "second bridge", "third bridge"], got, expected)
    assert not wrong, wrong


def marker(answer):
    return next(c["label"] for c in answer["completions"] if c["label"].startswith("FROM_"))


def test_fault5_update_sys_paths_racing_requests(session, bridge, uncached, libraries, monkeypatch):
    """Requests on one thread while another switches the search paths: each answer must be whole
    for the project it saw (its FROM_ name tells which)."""
    library = libraries["5-race"]
    session("5-race")
    monkeypatch.setenv("LSP_BRIDGE_NO_PERSISTENT_CACHE", "1")  # the disk part has its own case
    projects = [[library.lib], [library.alt, library.lib]]
    expected = {}
    for paths in projects:
        uncached.update_sys_paths(paths)
        answer = uncached.get_completions(REQUESTS["child"], 2, 6)
        expected[marker(answer)] = answer
    assert len(expected) == 2
    switch, stop = threading.Semaphore(0), []

    def switcher():
        for i in range(10**6):
            switch.acquire()
            if stop:
                return
            bridge.update_sys_paths(projects[i % 2])

    thread = threading.Thread(target=switcher)
    thread.start()
    rounds, wrong = 200, []
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # the threads take turns as often as the interpreter allows
    try:
        for n in range(rounds):
            if n % 2 == 0:
                switch.release()  # a switch runs while this request begins
            answer = bridge.get_completions(REQUESTS["child"], 2, 6)
            if answer != expected[marker(answer)]:
                wrong.append(difference((answer, []), (expected[marker(answer)], [])))
    finally:
        sys.setswitchinterval(interval)
        stop.append(True)
        switch.release()
        thread.join()
    assert not wrong, f"{len(wrong)} of {rounds} answers mixed two projects, e.g. {wrong[0]}"


# Where the store holds what another environment or a hostile folder left, the cache may note
# what it passes over: these compare answers only.


@pytest.mark.skipif(sys.version_info[:2] != (3, 9), reason="the other environment is Debian's 3.11")
def test_fault3_other_environment_then_own(run_python, tmp_path):
    venv = str(tmp_path / "venv311")
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--without-pip", venv], check=True)
    conf = dict(cache=str(tmp_path / "jedi"), paths=[], requests=["zi"])
    there = in_new_process(run_python, uncached=False, venv=venv, **conf)
    assert "strict" in json.dumps(there), "jedi answered from the 3.11 environment"
    expected = in_new_process(run_python, uncached=True, **conf)
    got = in_new_process(run_python, uncached=False, **conf)
    wrong = differences(["zi"], got, expected, logs=False)
    assert not wrong, wrong


def test_fault7_fifo_in_place_of_a_store_file(run_python, libraries, tmp_path):
    library = libraries["7-fifo"]
    conf = dict(lib=library.lib, cache=str(tmp_path / "jedi"), paths=[library.lib])
    expected = in_new_process(run_python, uncached=True, **conf)
    in_new_process(run_python, uncached=False, **conf)
    files = [p for p in (tmp_path / "jedi" / STORE).rglob("*") if p.is_file()]
    assert files, "the first run wrote the store"
    for path in files:
        path.unlink()
        os.mkfifo(path)
    try:
        got = in_new_process(run_python, timeout=60, uncached=False, **conf)
    except subprocess.TimeoutExpired:
        pytest.fail(f"a run with FIFOs for its {len(files)} store files did not finish in 60 s", pytrace=False)
    wrong = differences(REQUESTS, got, expected, logs=False)
    assert not wrong, wrong


def unrelated_files(folder, count=300):
    """Files that are not the cache's: JSON ones and ones named like a writer's temporary file,
    all a day old."""
    day_ago = time.time_ns() - 86400 * 10**9
    for i in range(count):
        path = os.path.join(folder, f".tmp-{i:03d}" if i % 10 == 0 else f"unrelated-{i:03d}.json")
        with open(path, "w") as f:
            f.write(json.dumps({"owner": "someone else", "n": i}))
        os.utime(path, ns=(day_ago, day_ago))


def snapshot(folder):
    found = {}
    for where, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(where, name)
            st = os.lstat(path)
            content = open(path, "rb").read() if os.path.isfile(path) and not os.path.islink(path) else None
            found[os.path.relpath(path, folder)] = (st.st_mode, st.st_uid, st.st_size, st.st_mtime_ns, content)
    return found


@pytest.mark.parametrize("case", HOSTILE_STORES)
def test_fault8_store_folder_not_the_caches_own(session, case, tmp_path, monkeypatch):
    cache = tmp_path / "jedi"
    store = cache / STORE
    cache.mkdir()
    monkeypatch.setattr(jedi.settings, "cache_directory", str(cache))
    watched = store
    if case == "symlink":
        watched = tmp_path / "elsewhere"
        watched.mkdir()
        store.symlink_to(watched)
    elif case != "directory-for-a-file":
        store.mkdir()
    if case != "directory-for-a-file":
        unrelated_files(watched)
    if case == "foreign-owner":
        for path in [store, *store.iterdir()]:
            os.chown(path, NOBODY, NOBODY)
    elif case == "world-writable":
        store.chmod(0o777)
    # The cache's notes on a folder it refuses may differ from the uncached log: answers only.
    steps = session(f"8-{case}", with_logs=False)
    if case == "directory-for-a-file":
        steps.run(parse_steps("ask:child ask:stub ask:client"))
        for path in [p for p in store.rglob("*") if p.is_file()]:
            path.unlink()
            path.mkdir()
            (path / "keep").write_text("not the cache's")
        steps.run(parse_steps("paths:lib"))  # empties the memory part
    before = snapshot(watched)
    steps.run(parse_steps("ask:child ask:stub ask:client ask:base restart"))
    after = snapshot(watched)
    if case == "symlink":
        assert sorted(set(after) - set(before)) == [], "written where the link points"
    changed = sorted(name for name in before if after.get(name) != before[name])
    assert not changed, f"{len(changed)} files not the cache's changed or went, e.g. {changed[:3]}"
