#!/usr/bin/env bash
# Install the Debian packages the build and the tests need, and nothing when
# they are all present already (dpkg is fast; apt-get update is not).
set -euo pipefail

PACKAGES=(
    # toolchain
    cmake g++ make
    # headers for the 3.11 build; pybind11 ships its CMake config in -dev
    python3-dev pybind11-dev
    # what the module drives at run time
    python3-jedi python3-parso python3-pyflakes python3-pylsp
    python3-pluggy python3-docstring-to-markdown python3-pkg-resources
    # test tools and their dependencies (also linked into the 3.9 venv)
    python3-pytest python3-pytest-timeout python3-hypothesis
    python3-exceptiongroup python3-tomli python3-attr python3-iniconfig
    python3-packaging python3-py python3-sortedcontainers
    # the sanitizer run spreads the suite over both cores
    python3-pytest-xdist python3-execnet
    # memory checks (make valgrind) and the benchmark report's plots (make bench)
    valgrind python3-matplotlib
)

missing=()
for pkg in "${PACKAGES[@]}"; do
    # dpkg -s also answers for removed packages whose config files remain,
    # so look at the status line rather than the exit code.
    if ! dpkg -s "$pkg" 2>/dev/null | grep -qx 'Status: install ok installed'; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "install_deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "install_deps: need root to run apt-get (missing: ${missing[*]})" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
