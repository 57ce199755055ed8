"""One new process of suite_typing_real's numpy scenario: the first completion of one case,
timed, printed as JSON ({"ms": ...}). Run with XDG_CACHE_HOME set by the caller, so the item
store and parso's cache are the ones an earlier process filled.

    python bench/numpy_process.py bridge|fill|floor CASE

bridge: the module constructed, its warm-up joined, then the case asked.
fill:   as bridge, the case asked suite_typing_real.FILL_LIMIT times (the last one timed): a
        session that used numpy, which leaves the store as a user's later processes find it.
floor:  the module's imports and jedi's answer to the warm-up's question (as cold.py's floor
        processes carry), then the case done by floor.completions.
"""
import json
import sys
import time

import common

import cold
import suite_typing_real


def main(variant, case):
    code, line, column = next((c, l, k) for name, c, l, k in suite_typing_real.NUMPY_CASES if name == case)
    if variant in ("bridge", "fill"):
        module = __import__(common.MODULE, fromlist=["LSPBridge"])
        bridge = module.LSPBridge()
        common.join_warmup()
        ask = lambda: bridge.get_completions(code, line, column)["completions"]  # noqa: E731
    else:
        import jedi
        import floor
        cold.import_like_the_module()
        bridge = cold.floor_owner()
        jedi.Script(code=cold.CODE, path="<warmup>", project=bridge._jedi_project).complete(
            line=cold.LINE, column=cold.COLUMN)
        ask = lambda: floor.completions(bridge, code, line, column)  # noqa: E731
    for _ in range(suite_typing_real.FILL_LIMIT if variant == "fill" else 1):
        start = time.perf_counter()
        items = ask()
        ms = (time.perf_counter() - start) * 1e3
    assert items, case
    if variant != "floor":
        bridge.cleanup()
    else:
        bridge._temp_dir.cleanup()
    return {"ms": ms, "items": len(items)}


if __name__ == "__main__":
    common.use_fast_tempdir()
    print(json.dumps(main(sys.argv[1], sys.argv[2])))
