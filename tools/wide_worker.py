"""A worker of the wide differential (tools/wide_changes.py): one bridge, with the item cache or
without it, in a process of its own, answering requests read as JSON lines from stdin; and the
driver's handle on such a process. The library folder counts as the purelib, so its files are
library files; the bridge's search path is that folder."""
import json
import os
import select
import subprocess
import sys
import sysconfig

TOOLS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TOOLS)


def serve(conf):
    # A request stopped by its budget tells of the machine's load, not of the cache.
    os.environ["LSP_BRIDGE_REQUEST_BUDGET"] = "0"
    if conf["uncached"]:
        os.environ["LSP_BRIDGE_NO_PERSISTENT_CACHE"] = "1"
    else:
        os.environ.pop("LSP_BRIDGE_NO_PERSISTENT_CACHE", None)
    real_paths = sysconfig.get_paths
    sysconfig.get_paths = lambda *a, **k: dict(real_paths(*a, **k), purelib=conf["lib"])
    import importlib

    import jedi
    import parso
    jedi.settings.cache_directory = conf["cache"]
    from support import MODULE_NAME, captured_logs, new_bridge
    from support.item_answers import ask, uncached_bridge
    # Replies go to a copy of stdout; anything jedi prints goes to stderr.
    out = os.fdopen(os.dup(1), "w")
    os.dup2(2, 1)
    lsp = importlib.import_module(MODULE_NAME)
    bridge = uncached_bridge(lsp) if conf["uncached"] else new_bridge(lsp)
    bridge.update_sys_paths([conf["lib"]])
    with captured_logs() as logs:
        out.write("null\n")
        out.flush()
        for line in sys.stdin:
            command = json.loads(line)
            reply = None
            if command["do"] == "ask":
                position = tuple(command["position"]) if command.get("position") else None
                reply = ask(bridge, logs, command["code"], command.get("path"), None, position)
            elif command["do"] == "forget":
                # The files are dated in the past, so jedi's parser would keep its copy of a changed one.
                for trees in parso.cache.parser_cache.values():
                    for key in [k for k in trees if str(k) in command["paths"]]:
                        del trees[key]
            elif command["do"] == "quit":
                break
            out.write(json.dumps(reply) + "\n")
            out.flush()
    bridge.cleanup()


class WorkerDied(Exception):
    pass


class Worker:
    def __init__(self, lib, cache, uncached, log, hash_seed):
        devhost = os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost")
        # jedi joins some values in the order of a set of strings: the hash seed fixes it.
        env = dict(os.environ, PYTHONPATH=os.pathsep.join([devhost, os.path.join(ROOT, "tests"), TOOLS]),
                   PYTHONHASHSEED=str(hash_seed))
        conf = json.dumps({"lib": lib, "cache": cache, "uncached": uncached})
        self.log = log
        self.process = subprocess.Popen([sys.executable, os.path.abspath(__file__), conf], env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=open(log, "ab"),
                                        text=True, cwd=ROOT)
        self.read(300)

    def read(self, timeout):
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        line = self.process.stdout.readline() if ready else ""
        if not line:
            self.process.kill()
            tail = open(self.log, errors="replace").read()[-2000:]
            raise WorkerDied(f"worker gave no answer in {timeout} s or exited:\n{tail}")
        return json.loads(line)

    def call(self, command, timeout=600):
        self.process.stdin.write(json.dumps(command) + "\n")
        self.process.stdin.flush()
        return self.read(timeout)

    def ask(self, code, path=None, position=None):
        return self.call({"do": "ask", "code": code, "path": path, "position": position})

    def close(self):
        try:
            self.process.stdin.write('{"do": "quit"}\n')
            self.process.stdin.flush()
            self.process.wait(60)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()


if __name__ == "__main__":
    sys.path[:0] = [TOOLS, os.path.join(ROOT, "tests")]
    serve(json.loads(sys.argv[1]))
