"""Check that jedi completes the host's ``corvane`` stub from devhost.

usage: python tools/check_stubs.py [REPO_ROOT]
"""
import os
import sys

import jedi

EXPECTED = {"load_dataset", "Dataset", "Run", "Job", "get_secret", "DEFAULT_CHUNK_SIZE"}


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.getcwd())
    stubs = os.path.join(root, "devhost", "corvane_master", "python_server", "stubs")
    project = jedi.Project(root, added_sys_path=[stubs])
    names = {c.name for c in jedi.Script("import corvane\ncorvane.", project=project).complete(2, 8)}
    missing = EXPECTED - names
    if missing:
        print("jedi does not see the corvane stub (missing %s; got %s)"
              % (sorted(missing), sorted(names)), file=sys.stderr)
        return 1
    sigs = jedi.Script("import corvane\ncorvane.load_dataset(", project=project).get_signatures(2, 21)
    if not sigs or "version" not in sigs[0].to_string():
        print("no signature for corvane.load_dataset: %r" % (sigs,), file=sys.stderr)
        return 1
    print("corvane stub ok: %d names, %s" % (len(names), sigs[0].to_string()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
