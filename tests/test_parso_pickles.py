"""parso's pickles in jedi's cache folder: one that cannot be loaded (cut short by a killed writer,
still being written in place by another process, empty after a power cut, or missing with only a
killed writer's temporary file left) is a miss; the answers equal those of a fresh cache folder,
the bad file is replaced and the temporary files of gone writers are removed. A host's own
replacement of parso's save stays. `make test-kills` kills whole processes at random moments."""
import glob
import json
import os
import pickle
import shutil
import subprocess

import jedi
import parso
import pytest

REQUESTS = [("get_completions", ("text = 'abc'\ntext.up", 2, 7)), ("get_signature_help", ("import json\njson.dumps(", 2, 11))]


def answers(bridge, cache, monkeypatch):
    monkeypatch.setenv("LSP_BRIDGE_REQUEST_BUDGET", "0")  # a fresh cache on a busy machine is slow
    monkeypatch.setattr(jedi.settings, "cache_directory", str(cache))
    parso.cache.parser_cache.clear()  # every tree from the folder, not from memory
    return [getattr(bridge, method)(*args) for method, args in REQUESTS]


def pickles(cache):
    return sorted(glob.glob(os.path.join(cache, "CPython-*", "*.pkl")))


@pytest.mark.parametrize("kept, writing", [(0.5, False), (0.3, True), (0, False), (None, False)],
                         ids=["cut in half", "being written in place", "empty", "a killed writer's temporary file"])
def test_a_pickle_that_does_not_load_is_a_miss_and_is_replaced(uncached, monkeypatch, tmp_path, kept, writing):
    fresh = answers(uncached, tmp_path / "fresh", monkeypatch)
    assert [a["error"] for a in fresh] == [None, None]
    shutil.copytree(tmp_path / "fresh", tmp_path / "bad")
    names = pickles(tmp_path / "bad")
    assert max(map(os.path.getsize, names)) > 500_000  # builtins.pyi's among them
    gone, running = subprocess.Popen(["true"]), subprocess.Popen(["sleep", "60"])
    gone.wait()
    for path in names:
        with open(path, "rb") as f:
            data = f.read()
        for writer in (gone, running):  # <pickle>.<pid>.<n>.tmp: a save in flight, or cut by a kill
            with open(f"{path}.{writer.pid}.1.tmp", "wb") as f:
                f.write(data[: len(data) // 2])
        if kept is None:
            os.remove(path)
        else:
            with open(path, "wb") as f:
                f.write(data[: int(len(data) * kept)])
    writer = open(names[0], "ab") if writing else None  # parso's own writer in another process
    try:
        assert answers(uncached, tmp_path / "bad", monkeypatch) == fresh
        left = sorted(glob.glob(os.path.join(os.path.dirname(names[0]), "*.tmp")))
    finally:
        running.kill()
        running.wait()
        if writer:
            writer.close()
    assert left == [f"{path}.{running.pid}.1.tmp" for path in names]
    assert pickles(tmp_path / "bad") == names
    for path in names:
        with open(path, "rb") as f:
            assert type(pickle.load(f)).__name__ == "_NodeCacheItem", path


HOST = """
import functools, json, tempfile, threading
import jedi, parso.cache
from corvane_master.python_server.lsp_bridge import LSPBridge
parsos, calls = parso.cache._save_to_file_system, []
kinds = lambda: [type(getattr(parso.cache, n)).__name__ for n in ("_save_to_file_system", "_load_from_file_system")]
jedi.settings.cache_directory = tempfile.mkdtemp()
b = LSPBridge()
[t.join() for t in threading.enumerate() if t.name == "LSP-corvane-preload"]
seen = {"parso's own": kinds()}
parso.cache._save_to_file_system = functools.wraps(parsos)(lambda *a, **k: calls.append(a[1]) or parsos(*a, **k))
parso.cache.parser_cache.clear()
b.get_completions("import csv\\ncsv.wr", 2, 6)
seen["a host's wrapper"] = [parso.cache._save_to_file_system.__wrapped__ is parsos, bool(calls)]
parso.cache._save_to_file_system = parsos
b.get_completions("import csv\\ncsv.wr", 2, 6)
seen["parso's own again"] = kinds()
print("RESULT" + json.dumps(seen))
"""


def test_a_hosts_own_save_stays_and_parsos_own_is_replaced(run_python):
    """What each attribute is after a request."""
    out = run_python(HOST)
    lines = [line for line in out.stdout.splitlines() if line.startswith("RESULT")]
    assert lines, out.stderr[-3000:]
    assert json.loads(lines[0][len("RESULT"):]) == {"parso's own": ["builtin_function_or_method"] * 2,
                                                    "a host's wrapper": [True, True],
                                                    "parso's own again": ["builtin_function_or_method"] * 2}
