"""parso's pickles in jedi's cache folder: one that cannot be loaded (cut short by a killed writer,
still being written in place by another process, empty after a power cut) is a miss, beside the
temporary files writers leave; the answers equal those of a fresh cache folder, and the bad file is
replaced. A host's own replacement of parso's save or load stays. `make test-kills` kills whole
processes at random moments (tools/kill_rounds.py)."""
import glob
import json
import os
import pickle
import shutil
import subprocess

import jedi
import parso
import pytest

REQUESTS = [
    ("get_completions", ("text = 'abc'\ntext.up", 2, 7)),
    ("get_signature_help", ("import json\njson.dumps(", 2, 11)),
]


def answers(bridge, cache, monkeypatch):
    monkeypatch.setenv("LSP_BRIDGE_REQUEST_BUDGET", "0")  # a fresh cache on a busy machine is slow
    monkeypatch.setattr(jedi.settings, "cache_directory", str(cache))
    parso.cache.parser_cache.clear()  # every tree from the folder, not from memory
    return [getattr(bridge, method)(*args) for method, args in REQUESTS]


def pickles(cache):
    return sorted(glob.glob(os.path.join(cache, "CPython-*", "*.pkl")))


@pytest.mark.parametrize("share, writing", [(0.5, False), (0.3, True), (0, False)],
                         ids=["cut in half", "being written in place", "empty"])
def test_a_pickle_that_does_not_load_is_a_miss_and_is_replaced(uncached, monkeypatch, tmp_path, share, writing):
    """"Being written": parso's own writer in another process has the file open and has written a
    third of it."""
    fresh = answers(uncached, tmp_path / "fresh", monkeypatch)
    assert [a["error"] for a in fresh] == [None, None]
    shutil.copytree(tmp_path / "fresh", tmp_path / "bad")
    names = pickles(tmp_path / "bad")
    assert any(os.path.getsize(p) > 100_000 for p in names)  # builtins.pyi's among them
    for path in names:
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data[: int(len(data) * share)])
    writer = open(names[0], "ab") if writing else None
    try:
        assert answers(uncached, tmp_path / "bad", monkeypatch) == fresh
    finally:
        if writer:
            writer.close()
    assert [os.path.basename(p) for p in pickles(tmp_path / "bad")] == [os.path.basename(p) for p in names]
    for path in names:
        with open(path, "rb") as f:
            assert type(pickle.load(f)).__name__ == "_NodeCacheItem", path


def test_temporary_files_of_gone_writers_go_and_those_of_running_ones_stay(uncached, monkeypatch, tmp_path):
    """A writer killed mid-write leaves its temporary file (<pickle>.<pid>.<n>.tmp) and no pickle."""
    fresh = answers(uncached, tmp_path / "fresh", monkeypatch)
    shutil.copytree(tmp_path / "fresh", tmp_path / "bad")
    names = pickles(tmp_path / "bad")
    gone = subprocess.Popen(["true"])
    gone.wait()
    running = subprocess.Popen(["sleep", "60"])
    try:
        for path in names:
            with open(path, "rb") as f:
                data = f.read()
            os.remove(path)
            for writer in (gone, running):
                with open(f"{path}.{writer.pid}.1.tmp", "wb") as f:
                    f.write(data[: len(data) // 2])
        assert answers(uncached, tmp_path / "bad", monkeypatch) == fresh
        folder = os.path.dirname(names[0])
        left = sorted(n for n in os.listdir(folder) if n.endswith(".tmp"))
        assert left == sorted(f"{os.path.basename(p)}.{running.pid}.1.tmp" for p in names)
        assert [os.path.basename(p) for p in pickles(tmp_path / "bad")] == [os.path.basename(p) for p in names]
    finally:
        running.kill()
        running.wait()


HOST = """
import functools, json, os, sys, tempfile, threading
import jedi, parso.cache
parsos = parso.cache._save_to_file_system
from corvane_master.python_server.lsp_bridge import LSPBridge
jedi.settings.cache_directory = tempfile.mkdtemp()
b = LSPBridge()
[t.join() for t in threading.enumerate() if t.name == "LSP-corvane-preload"]
kinds = {}
def kinds_now():
    return [type(getattr(parso.cache, n)).__name__ for n in ("_save_to_file_system", "_load_from_file_system")]
kinds["parso's own, after a request"] = kinds_now()
calls = []
def host_save(*args, **kwargs):
    calls.append(args[1])
    return parsos(*args, **kwargs)
wrapped = functools.wraps(parsos)(host_save)
parso.cache._save_to_file_system = wrapped
parso.cache.parser_cache.clear()
b.get_completions("import csv\\ncsv.wr", 2, 6)
kinds["the host's, after a request"] = [parso.cache._save_to_file_system is wrapped, bool(calls)]
parso.cache._save_to_file_system = parsos
b.get_completions("import csv\\ncsv.wr", 2, 6)
kinds["parso's own again, after a request"] = kinds_now()
print("RESULT" + json.dumps(kinds))
"""


def test_a_hosts_own_save_stays_and_parsos_own_is_replaced(run_python):
    out = run_python(HOST)
    lines = [line for line in out.stdout.splitlines() if line.startswith("RESULT")]
    assert lines, out.stderr[-3000:]
    assert json.loads(lines[0][len("RESULT"):]) == {
        "parso's own, after a request": ["builtin_function_or_method"] * 2,
        "the host's, after a request": [True, True],
        "parso's own again, after a request": ["builtin_function_or_method"] * 2,
    }
