# Build, test and demo lsp_bridge. `make test` on a fresh machine installs
# what is missing (Debian packages, the 3.9 venv), builds the module for both
# interpreters and runs the tests under each: about 25-30 minutes on a fresh
# two-core machine, 15-20 on a re-run (nearly all of it the two suites).
#
# Targets: all (default: build39 build311), test (its parts: build-variant39,
#          test39, test311 and TEST_EXTRA, then a summary), test39, test311, demo, tour,
#          build39, build311, venv39, deps, clean
# Knobs:   CMAKE_ARGS="-DLSP_BRIDGE_SANITIZE=ON ..." (stored in the build's
#          CMake cache, so it sticks), PYTEST_ARGS="-k hover -x", JOBS=2
# Others hook in through demo/demo.mk: TEST_EXTRA += target, DEMO_TARGET = target.

SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
.DEFAULT_GOAL := all

ROOT := $(abspath .)
BUILD := $(ROOT)/build
PY311 := /usr/bin/python3
VENV39 := $(BUILD)/venv39
PY39 := $(VENV39)/bin/python
VENV39_STAMP := $(VENV39)/.ready
MODULE_DIR := $(ROOT)/devhost/corvane_master/python_server

CMAKE ?= cmake
JOBS ?= 2
CMAKE_ARGS ?=
PYTEST_ARGS ?=
TEST_EXTRA ?=
DEMO_TARGET ?= tour

# Bytecode goes to build/pycache*: no __pycache__ in the tree, and no
# cpython-39 files written into /usr/lib/python3/dist-packages, which the
# venv reaches through symlinks.
RUN39 := PYTHONPYCACHEPREFIX=$(BUILD)/pycache39 $(PY39)
RUN311 := PYTHONPYCACHEPREFIX=$(BUILD)/pycache311 $(PY311)
# Hypothesis keeps its example database here rather than in ./.hypothesis.
PYTEST_ENV := HYPOTHESIS_STORAGE_DIRECTORY=$(BUILD)/hypothesis

.PHONY: all deps venv39 build39 build311 build-variant39 build-asan39 asan valgrind test test39 test311 demo tour clean

all: build39 build311

deps:
	@tools/install_deps.sh

venv39: $(VENV39_STAMP)

$(VENV39_STAMP): tools/make_venv39.sh tools/find_python39.sh tools/pydeps39.txt tools/check_venv39.py | deps
	PYTHONPYCACHEPREFIX=$(BUILD)/pycache39 tools/make_venv39.sh $(BUILD)
	touch $@

# Configure only when there is no cache yet (or new CMAKE_ARGS were given);
# after that `cmake --build` re-runs CMake by itself when a CMakeLists.txt
# changes or a source file appears, and rebuilds only what changed.
# $(1): build folder name, $(2): interpreter
define cmake_build
	@if [ ! -f $(BUILD)/$(1)/CMakeCache.txt ] || [ -n "$(strip $(CMAKE_ARGS))" ]; then \
	    echo "$(CMAKE) -S . -B build/$(1) -DPython_EXECUTABLE=$(2) $(CMAKE_ARGS)"; \
	    $(CMAKE) -S $(ROOT) -B $(BUILD)/$(1) -DPython_EXECUTABLE=$(2) $(CMAKE_ARGS); \
	fi
	$(CMAKE) --build $(BUILD)/$(1) -j$(JOBS)
endef

build39: venv39
	$(call cmake_build,py39,$(PY39))

build311: deps
	$(call cmake_build,py311,$(PY311))

# A copy of the host package without the compiled module, for builds that write their own.
# $(1): destination folder
define copy_host
	@mkdir -p $(1)
	@cd devhost && find . -type f ! -name '*.so' ! -path '*/__pycache__/*' -print0 | xargs -0 cp --parents -t $(1)
endef

# $(1): build folder name under build/, $(2): extra CMake arguments
define host_build
	$(call copy_host,$(BUILD)/$(1)/host)
	@if [ ! -f $(BUILD)/$(1)/cmake/CMakeCache.txt ]; then \
	    $(CMAKE) -S $(ROOT) -B $(BUILD)/$(1)/cmake -DPython_EXECUTABLE=$(PY39) $(2) \
	        -DLSP_BRIDGE_OUTPUT_DIR=$(BUILD)/$(1)/host/corvane_master/python_server >/dev/null; \
	fi
	$(CMAKE) --build $(BUILD)/$(1)/cmake -j$(JOBS)
endef

# A second 3.9 build with the test-only settings: subclasses admitted at the boundary and a
# pretended compile-time version, in its own copy of the host package.
build-variant39: venv39
	$(call host_build,variant39,-DLSP_BRIDGE_ACCEPT_SUBCLASSES=ON -DLSP_BRIDGE_PRETEND_PY_VERSION=3.8)

# AddressSanitizer + UBSan build, and the whole suite under 3.9 with the runtime preloaded.
# The interpreter itself is not instrumented: malloc-based allocation lets ASan see every
# object, and leak detection is off because the interpreter never frees everything.
# Everything runs about three times slower there, so the request budget's default (made for
# native speed) would stop ordinary but big requests; the budget tests set their own values.
ASAN_REQUEST_BUDGET ?= 60
ASAN_RUNTIME = $(shell $(CXX) -print-file-name=libasan.so) $(shell $(CXX) -print-file-name=libubsan.so)
ASAN_ENV = LD_PRELOAD="$(ASAN_RUNTIME)" PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:halt_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 LSP_BRIDGE_DEVHOST=$(BUILD)/asan39/host \
	LSP_BRIDGE_REQUEST_BUDGET=$(ASAN_REQUEST_BUDGET)

build-asan39: venv39
	$(call host_build,asan39,-DLSP_BRIDGE_SANITIZE=ON)

# The suite is spread over ASAN_WORKERS processes (pytest-xdist), a test file to a process, so
# each file's shared warm bridge is built once; the run then takes about half as long.
ASAN_WORKERS ?= $(JOBS)
asan: build-asan39
	$(ASAN_ENV) $(RUN39) -m pytest -n $(ASAN_WORKERS) --dist loadfile $(PYTEST_ARGS)

# memcheck over tools/exercise.py (every method, every request, the usual failures); fails only
# on reports whose stack passes through the module's own code.
VALGRIND_ROUNDS ?= 1
valgrind: build39
	PYTHONMALLOC=malloc PYTHONPYCACHEPREFIX=$(BUILD)/pycache39 valgrind --tool=memcheck --num-callers=30 \
	    --log-file=$(BUILD)/valgrind.log $(PY39) tools/exercise.py $(VALGRIND_ROUNDS)
	$(RUN39) tools/valgrind_check.py $(BUILD)/valgrind.log

test39: build39 build-variant39
	$(RUN39) tools/check_stubs.py $(ROOT)
	$(PYTEST_ENV) $(RUN39) -m pytest $(PYTEST_ARGS)

test311: build311
	$(PYTEST_ENV) $(RUN311) -m pytest $(PYTEST_ARGS)

tour: build39
	PYTHONPATH=$(ROOT)/devhost $(RUN39) demo/tour.py

clean:
	rm -rf $(BUILD)
	rm -f $(MODULE_DIR)/lsp_bridge*.so

-include demo/demo.mk
-include tools/reliability.mk
-include bench/bench.mk

# These come after the include: prerequisites are expanded when a rule is
# read, so TEST_EXTRA and DEMO_TARGET set there must already be known here.
# Both modules are built before any test runs, so a compile error for either
# interpreter shows up first. Then the parts run one after another, each to its
# end, and `make test` closes with one status line per part (kept, with each
# part's output, in build/test-parts/); it fails when any part failed.
TEST_PARTS = build-variant39 test39 test311 $(TEST_EXTRA)

test: build39 build311
	@MAKE="$(MAKE)" tools/test_parts.sh $(BUILD)/test-parts $(TEST_PARTS)

demo: $(DEMO_TARGET)
