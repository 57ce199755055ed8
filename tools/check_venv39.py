"""Check that the 3.9 venv sees exactly what it should.

Run with the venv's interpreter. Exits non-zero with a list of problems.
"""
import importlib
import subprocess
import sys

REQUIRED = [
    "jedi",
    "parso",
    "pyflakes.api",
    "pyflakes.reporter",
    "pylsp.uris",
    "pylsp.config.config",
    "pylsp.workspace",
    "pytest",
    "hypothesis",
    "pytest_timeout",
    "xdist",
]

# Installed as Debian packages but not linked: seeing one means the venv
# reaches all of dist-packages.
FORBIDDEN = ["numpy", "yaml", "scipy", "ujson"]


def main():
    problems = []
    if sys.version_info[:2] != (3, 9):
        problems.append("interpreter is %s, not 3.9" % sys.version.split()[0])
    if sys.prefix == sys.base_prefix:
        problems.append("not running inside a venv (%s)" % sys.prefix)

    for name in REQUIRED:
        try:
            importlib.import_module(name)
        except Exception as exc:  # any failure, not just ImportError
            problems.append("cannot import %s: %r" % (name, exc))

    for name in FORBIDDEN:
        try:
            importlib.import_module(name)
        except ImportError:
            continue
        problems.append("%s is importable but must not be" % name)

    # The plugins must load through their entry points, as under 3.11.
    help_text = subprocess.run(
        [sys.executable, "-m", "pytest", "--help", "-p", "no:cacheprovider"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
        universal_newlines=True, cwd="/",
    )
    if help_text.returncode != 0:
        problems.append("pytest --help failed:\n" + help_text.stdout)
    else:
        for option in ("--timeout", "--hypothesis-seed"):
            if option not in help_text.stdout:
                problems.append("pytest has no %s option (plugin not loaded)" % option)

    version = subprocess.run(
        [sys.executable, "-m", "pytest", "--version"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
        universal_newlines=True, cwd="/",
    )
    if version.returncode != 0:
        problems.append("pytest --version failed:\n" + version.stdout)

    if problems:
        print("venv39 check failed:", file=sys.stderr)
        for p in problems:
            print("  - " + p, file=sys.stderr)
        return 1
    print("venv39 ok: " + version.stdout.strip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
