"""The test-only build settings, exercised through a second 3.9 build (`make build-variant39`):
subclasses admitted at the boundary, and a pretended compile-time version."""
import importlib.machinery
import os
import subprocess
import sys
import textwrap

import pytest

from support import MODULE_NAME, ROOT

VARIANT_HOST = os.path.join(ROOT, "build", "variant39", "host")
MODULE_DIR = os.path.join(VARIANT_HOST, "corvane_master", "python_server")


def variant_available():
    if not os.path.isdir(MODULE_DIR):
        return False
    # the first suffix is this interpreter's own ABI tag (".cpython-39-x86_64-linux-gnu.so")
    return os.path.exists(os.path.join(MODULE_DIR, "lsp_bridge" + importlib.machinery.EXTENSION_SUFFIXES[0]))


pytestmark = pytest.mark.skipif(not variant_available(), reason="variant build for this interpreter not present")


def run_variant(code):
    env = dict(os.environ, PYTHONPATH=VARIANT_HOST)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env=env, timeout=120, cwd=ROOT)


def test_pretended_version_warns_with_the_compile_time_numbers():
    proc = run_variant(f"""
        import sys, warnings
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            import {MODULE_NAME}
        print([str(w.message) for w in caught if issubclass(w.category, RuntimeWarning)])
    """)
    major, minor = sys.version_info[:2]
    expected = (f"compile time Python version 3.8 of module '{MODULE_NAME}' does not match runtime version "
                f"{major}.{minor}")
    assert proc.stdout.strip() == repr([expected]), proc.stderr


def test_warning_as_error_fails_the_import():
    proc = run_variant(f"""
        import warnings
        warnings.simplefilter("error", RuntimeWarning)
        try:
            import {MODULE_NAME}
        except RuntimeWarning:
            print("refused")
    """)
    assert proc.stdout.strip() == "refused", proc.stderr


def test_subclasses_are_admitted():
    proc = run_variant(f"""
        import collections, warnings
        warnings.simplefilter("ignore")
        from {MODULE_NAME} import LSPBridge
        class S(str): pass
        b = LSPBridge()
        b.sync_modules(collections.OrderedDict(m=S("x = 1")))
        print(b._is_module_name(S("abc")), open(b._temp_dir.name + "/m.py").read())
        b.cleanup()
    """)
    assert proc.stdout.split() == ["True", "x", "=", "1"], proc.stderr
