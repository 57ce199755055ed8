#!/usr/bin/env bash
# Print the path of pyenv's CPython 3.9 (the newest 3.9.x installed).
set -euo pipefail

if command -v pyenv >/dev/null 2>&1; then
    root=$(pyenv root)
else
    root=${PYENV_ROOT:-/root/.pyenv}
fi

found=$(ls -d "$root"/versions/3.9*/bin/python3.9 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$found" ] || [ ! -x "$found" ]; then
    echo "no CPython 3.9 under $root/versions (expected e.g. $root/versions/3.9.18)" >&2
    exit 1
fi
echo "$found"
