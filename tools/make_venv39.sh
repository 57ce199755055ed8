#!/usr/bin/env bash
# Create build/venv39: pyenv's CPython 3.9 plus a folder of symlinks to just
# the Debian pure-Python packages we need (tools/pydeps39.txt). Pointing the
# venv at all of dist-packages would drag in 3.11-only C extensions and hide
# missing dependencies.
#
# usage: tools/make_venv39.sh BUILD_DIR
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: make_venv39.sh BUILD_DIR}
mkdir -p "$build"
build=$(cd "$build" && pwd)
venv=$build/venv39
deps=$build/pydeps39
dist=/usr/lib/python3/dist-packages

base=$("$here/find_python39.sh")
echo "venv39: base interpreter $base"

# Start clean each time: a half-made venv from an interrupted run is worse
# than the few seconds this takes.
rm -rf "$venv" "$deps"
"$base" -m venv --without-pip "$venv"

mkdir -p "$deps"
shopt -s nullglob
while IFS= read -r line || [ -n "$line" ]; do
    line=${line%%#*}
    line=$(echo "$line" | tr -d '[:space:]')
    [ -z "$line" ] && continue
    matches=("$dist"/$line)
    if [ ${#matches[@]} -eq 0 ]; then
        echo "venv39: nothing in $dist matches '$line'" >&2
        exit 1
    fi
    for m in "${matches[@]}"; do
        ln -sfn "$m" "$deps/$(basename "$m")"
    done
done < "$here/pydeps39.txt"

site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
echo "$deps" > "$site/debian_pydeps.pth"

"$venv/bin/python" "$here/check_venv39.py"
