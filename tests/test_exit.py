"""The interpreter exits while requests run: each kind (and the warm-up) in flight, many times,
must end cleanly, leave no broken parser cache, and change no later answer; once the exit has
begun, a request answers at once and a call from another thread is refused before it runs.
`make test-exit` runs more rounds."""
import os
import subprocess
import sys

from support import MODULE_NAME, TOOLS

ROUNDS = int(os.environ.get("LSP_BRIDGE_EXIT_ROUNDS", "10"))


def test_exits_with_requests_in_flight_are_clean():
    seed = os.environ.get("LSP_BRIDGE_EXIT_SEED")
    out = subprocess.run([sys.executable, os.path.join(TOOLS, "exit_rounds.py"), "--rounds", str(ROUNDS)] + (["--seed", seed] if seed else []),
                         capture_output=True, text=True, timeout=120 + 30 * ROUNDS)
    print(out.stdout)
    assert out.returncode == 0, out.stdout + out.stderr


# An exit function registered before the module's runs after it.
AFTER_EXIT = f"""
import atexit, threading
def late():
    print("main:", b.get_completions("import os\\nos.pa", 2, 5)["error"])
    def other():
        try:
            b.get_diagnostics("x = 1\\n")
        except RuntimeError as e:
            print("other:", e)
    t = threading.Thread(target=other)
    t.start()
    t.join()
atexit.register(late)
from {MODULE_NAME} import LSPBridge
b = LSPBridge()
"""


def test_after_the_exit_began_requests_answer_at_once_and_other_threads_are_refused(run_python):
    out = run_python(AFTER_EXIT)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == ["main: Request stopped: the interpreter is exiting",
                                       "other: lsp_bridge: the interpreter is exiting"]
