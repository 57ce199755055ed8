"""sync_modules and delete_module with generated module names (separators, "..", absolute paths,
NUL, very long and non-ASCII names, keys that format as such paths, str subclasses that lie about
their contents) never create, change or remove anything outside the module sync directory.

The sync directory is made inside a sandbox (tempfile.tempdir points there) and the working
directory is a folder of the sandbox, so relative and absolute escapes alike would land in the
tree that is compared before and after; bait files sit where such names would lead."""
import os
import tempfile

import pytest
from hypothesis import given, strategies as st

from support import fake_bridge, fuzz_settings
from support.hostile_values import FormatsAs, LyingStr, StrSub

UNSAFE_PARTS = ("/", "\\", "\0")
PIECES = ("x", "x", "x", "y", "..", "../", ".", "/", "\\", "\0", "é", "名前", "~", "$HOME", " ", "*", "\n", ".py",
          "a" * 300, "\udcff", "\ud800", "{SANDBOX}/", "{UP}", "{UP}sandbox/", "inner/")
# {SANDBOX}: the sandbox's absolute path; {UP}: "../" as often as leads from the sync
# directory to the folder holding the sandbox.
raw_names = st.one_of(st.lists(st.sampled_from(PIECES), min_size=1, max_size=6).map("".join),
                      st.text(st.sampled_from("x./\\\0é."), max_size=8))
KEY_WRAPPERS = (lambda n: n, lambda n: n, StrSub, LyingStr, FormatsAs, lambda n: FormatsAs(LyingStr(n)))


def is_safe(stem):
    return stem not in (".", "..") and not any(p in stem for p in UNSAFE_PARTS)


def snapshot(root, skip):
    """path -> file bytes (None for a folder), leaving out the sync directory's own tree."""
    result = {}
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if os.path.join(dirpath, d) != skip]
        for n in dirnames + filenames:
            p = os.path.join(dirpath, n)
            result[p] = None if os.path.isdir(p) else open(p, "rb").read()
    return result


@pytest.fixture
def sandbox(tmp_path, monkeypatch):
    box = tmp_path / "sandbox"
    for folder in ("inner", "tmp"):
        (box / folder).mkdir(parents=True)
    for bait in (tmp_path / "x.py", box / "x.py", box / "inner" / "x.py", box / "tmp" / "x.py", box / "y.py"):
        bait.write_text("bait")
    monkeypatch.setattr(tempfile, "tempdir", str(box / "tmp"))
    monkeypatch.chdir(box / "inner")
    return tmp_path


def expand(name, sync_dir, root):
    up = "../" * len(os.path.relpath(sync_dir, root).split(os.sep))
    return name.replace("{SANDBOX}", os.path.join(str(root), "sandbox")).replace("{UP}", up)


def check_flat_and_expected(sync_dir, expected):
    entries = sorted(os.listdir(sync_dir))
    assert all(os.path.isfile(os.path.join(sync_dir, e)) for e in entries), entries
    for entry in entries:
        with open(os.path.join(sync_dir, entry), encoding="utf-8", errors="surrogateescape") as f:
            assert expected.get(entry) == f.read(), entry


@fuzz_settings(400)
@given(names=st.lists(raw_names, min_size=1, max_size=6), wrappers=st.lists(st.sampled_from(KEY_WRAPPERS)),
       split=st.integers(0, 6))
def test_generated_names_stay_inside(lsp, sandbox, names, wrappers, split):
    with fake_bridge(lsp) as bridge:
        sync_dir = bridge._temp_dir.name
        assert sync_dir.startswith(str(sandbox))
        names = [expand(n, sync_dir, sandbox) for n in names]
        before = snapshot(sandbox, sync_dir)
        keys = [(wrappers[i] if i < len(wrappers) else str)(n) for i, n in enumerate(names)]
        modules = {k: f"code of {i}" for i, k in enumerate(keys[:split])}
        dirty = {k: f"dirty {i}" for i, k in enumerate(keys[split:])}
        bridge.sync_modules(modules, dirty)
        expected = {}
        for key, code in {**modules, **dirty}.items():
            stem = str.__str__(format(key, ""))
            if is_safe(stem):
                expected[stem + ".py"] = code
        check_flat_and_expected(sync_dir, expected)
        for name in names + [s[:-3] for s in expected]:
            bridge.delete_module(name)
        assert snapshot(sandbox, sync_dir) == before
        assert os.listdir(sync_dir) == []


@pytest.mark.parametrize("key", [
    FormatsAs(LyingStr("../escape")),
    LyingStr("../escape"),
    FormatsAs(LyingStr("..")),
    FormatsAs(LyingStr("{SANDBOX}/escape")),
])
def test_keys_that_lie_about_their_text_are_refused(lsp, sandbox, logs, key):
    # format() of a key may give a str subclass whose __contains__/__eq__ deny the separators;
    # the name check must look at the text itself.
    with fake_bridge(lsp) as bridge:
        if isinstance(key, FormatsAs):
            key.text = LyingStr(expand(key.text, bridge._temp_dir.name, sandbox))
        before = snapshot(sandbox, bridge._temp_dir.name)
        bridge.sync_modules({key: "escaped"})
        assert snapshot(sandbox, bridge._temp_dir.name) == before
        assert os.listdir(bridge._temp_dir.name) == []
        assert logs.formats("WARNING") == ["[LSP] Refusing unsafe module name '%s'"]
