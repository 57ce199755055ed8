"""jedi used from two threads at once: a request that arrives while the warm-up runs waits for
it, and both succeed."""
import json
import os
import subprocess
import sys
import textwrap

from support import DEVHOST, MODULE_NAME, ROOT, surface

# every jedi request, with its sample
ASKS = [(method, surface.call_args(method)) for method in surface.JEDI_REQUESTS]

SCRIPT = textwrap.dedent(f"""
    import json, logging, threading
    records = []
    class Keep(logging.Handler):
        def emit(self, record):
            records.append((record.threadName, record.levelname, record.getMessage()))
    log = logging.getLogger("{MODULE_NAME}")
    log.setLevel(logging.DEBUG)
    log.addHandler(Keep())
    from {MODULE_NAME} import LSPBridge
    b = LSPBridge()
    # at once, while the warm-up thread is starting its own completion
    errors = [getattr(b, method)(*args)["error"] for method, args in {ASKS!r}]
    for t in threading.enumerate():
        if t.name == "LSP-corvane-preload":
            t.join(120)
    warm = [m for name, level, m in records if name == "LSP-corvane-preload"]
    print("RESULT" + json.dumps({{"errors": errors, "warm": warm}}))
""")


def test_requests_during_warmup_succeed_in_many_fresh_processes():
    env = dict(os.environ, PYTHONPATH=DEVHOST)
    procs = [subprocess.Popen([sys.executable, "-c", SCRIPT], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, env=env, cwd=ROOT) for _ in range(6)]
    for p in procs:
        out, err = p.communicate(timeout=300)
        lines = [l for l in out.splitlines() if l.startswith("RESULT")]
        assert lines, err
        result = json.loads(lines[0][len("RESULT"):])
        assert result["errors"] == [None] * len(ASKS)
        assert len(result["warm"]) == 1
        assert result["warm"][0].startswith("[LSP] Preloaded corvane module cache (")
